// Control identifiers of the configuration and About dialogs.
#pragma once

#define IDC_HIGH_QUALITY 100
#define IDC_RIPPLE_DESKTOP 101
#define IDC_LIGHTEN_DARKEN 102
#define IDC_DOUBLE_BUFFER 103
#define IDC_RIPPLE_SPEED 104
#define IDC_RIPPLE_FREQ 105
#define IDC_TEXTURE_BIGGER 106
#define IDC_TEXTURE_SMALLER 107
#define IDC_ABOUT 109
#define IDC_TEXTURE_SIZE 209
#define IDC_ABOUT_TEXT 101
