// A line of status on standard error's terminal, drawn over itself and erased
// without a trace. Nothing is ever written when standard error is not a
// terminal (status_line.cpp; the terminal's width and the writes:
// status_line_posix.cpp, status_line_win32.cpp).
#pragma once

#include <string_view>

// The width of the terminal standard error writes to, as it is now (a window
// may be resized at any time); 0 when it writes elsewhere (a pipe, a file,
// /dev/null).
int status_line_width();
// Draws line from the start of the terminal's line, over what was drawn, as
// a step the ending waits for (it erases the line for good). No write
// reaches the terminal's last column, at its width now, where the terminal
// would wrap onto a row that nothing erases.
void draw_status_line(std::string_view line);
// Erases what is drawn (a carriage return, spaces to its width, a carriage
// return), if anything. Takes no memory: the ending calls it.
void erase_status_line();

// Writes text to standard error's terminal as it is; a failure is ignored (a
// status line is not worth one). For status_line.cpp.
void write_status_text(std::string_view text);
