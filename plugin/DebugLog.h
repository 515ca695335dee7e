// One line, already ending in "\n", to the platform's debug-output channel.
#ifndef TINTBRIDGE_DEBUG_LOG_H
#define TINTBRIDGE_DEBUG_LOG_H

void debugLog(const char *line);

// Test hook: when set, lines go here instead of the platform channel.
typedef void (*DebugLogSink)(const char *line);
void setDebugLogSink(DebugLogSink sink);

#endif
