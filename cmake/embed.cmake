# Writes the bytes of IN as a C++ array named NAME into OUT.
file(READ "${IN}" hex HEX)
string(LENGTH "${hex}" hex_len)
math(EXPR size "${hex_len} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "((0x..,){32})" "\\1\n" bytes "${bytes}")
file(WRITE "${OUT}" "// Generated from ${IN}; do not edit.\n#include <cstddef>\nextern const unsigned char ${NAME}[];\nextern const size_t ${NAME_SIZE};\nconst unsigned char ${NAME}[] = {\n${bytes}\n};\nconst size_t ${NAME_SIZE} = ${size};\n")
