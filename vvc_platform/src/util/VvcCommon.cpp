#include "util/VvcCommon.h"

#include <cstdarg>
#include <cstdio>

MsgLevel g_verbosity = VERBOSE;

static bool sRomInitialised = false;

std::string CheckPrefix(char const* function, char const* file, int line)
{
    return std::string("\nERROR: In function \"") + function + "\" in " + file + ":" + std::to_string(line) + ": ";
}

void msg(MsgLevel level, char const* fmt, ...)
{
    if (level > g_verbosity)
        return;
    va_list args;
    va_start(args, fmt);
    std::vfprintf(level == ERROR ? stderr : stdout, fmt, args);
    va_end(args);
}

void initROM()
{
    sRomInitialised = true;
}

void destroyROM()
{
    sRomInitialised = false;
}

bool IsRomInitialised()
{
    return sRomInitialised;
}
