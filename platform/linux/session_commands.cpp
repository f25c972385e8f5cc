// Reading the session commands' switches from the arguments.
#include "session_commands.h"

#include <cstdlib>
#include <cstring>

namespace platform {

// The longest idle time --idle takes: a day.
constexpr unsigned long kMaxIdleSeconds = 24 * 60 * 60;

SessionCommand read_session_command(int argc, const char *const *argv)
{
    SessionCommand command;
    for (int i = 1; i < argc; i++) {
        if (strcmp(argv[i], "--allow-screenshots") == 0) {
            command.kind = SessionCommand::allow_screenshots;
        } else if (strcmp(argv[i], "--idle") == 0) {
            command.kind = SessionCommand::idle;
            const char *value = i + 1 < argc ? argv[++i] : "";
            char *end = nullptr;
            unsigned long seconds = *value >= '0' && *value <= '9' ? strtoul(value, &end, 10) : 0;
            if (!end || *end || seconds < 1 || seconds > kMaxIdleSeconds) {
                command.error = "--idle needs a number of seconds from 1 to 86400";
                return command;
            }
            command.idle_seconds = unsigned(seconds);
        }
    }
    return command;
}

} // namespace platform
