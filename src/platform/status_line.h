// A line of status on standard error's terminal, drawn over itself and erased
// without a trace (status_line_posix.cpp, status_line_win32.cpp). Nothing is
// ever written when standard error is not a terminal.
#pragma once

#include <string_view>

// The width of the terminal standard error writes to, as it is now (a window
// may be resized at any time); 0 when it writes elsewhere (a pipe, a file,
// /dev/null).
int status_line_width();
// Draws line from the start of the terminal's line, over what was drawn. No
// write reaches the terminal's last column, at its width now, where the
// terminal would wrap onto a row that nothing erases.
void draw_status_line(std::string_view line);
// Erases what is drawn (a carriage return, spaces to its width, a carriage
// return), if anything; safe in a signal handler.
void erase_status_line();
