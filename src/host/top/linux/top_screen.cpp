// The live view's terminal through ncurses.
#include "top/top_screen.h"

#include <curses.h>
#include <langinfo.h>
#include <unistd.h>

#include <clocale>
#include <cstring>

// term.h defines many short names as macros (lines, columns): it comes last.
#include <term.h>

namespace vhost {

bool TopScreen::stdoutIsTerminal() {
  // A terminal whose type has no description is treated as none: initscr would end the program.
  int error = 0;
  return isatty(STDOUT_FILENO) == 1 && setupterm(nullptr, STDOUT_FILENO, &error) == OK;
}

bool TopScreen::supported(std::string&) { return true; }

TopScreen::TopScreen() {
  // The user's locale decides whether block characters can be shown.
  std::setlocale(LC_CTYPE, "");
  unicode_ = std::strcmp(nl_langinfo(CODESET), "UTF-8") == 0;
  initscr();
  // Raw keys: Ctrl-C arrives as a key and ends the view like q, through the normal exit.
  raw();
  noecho();
  keypad(stdscr, TRUE);
  curs_set(0);
}

TopScreen::~TopScreen() { endwin(); }

int TopScreen::width() const { return COLS; }
int TopScreen::height() const { return LINES; }
bool TopScreen::unicode() const { return unicode_; }

void TopScreen::draw(const std::vector<std::string>& screenLines) {
  erase();
  for (size_t row = 0; row < screenLines.size() && static_cast<int>(row) < LINES; ++row) {
    // The last cell of the screen cannot be written without scrolling; leave it out.
    const std::string& line = screenLines[row];
    size_t bytes = line.size();
    if (static_cast<int>(row) == LINES - 1 && bytes > 0) {
      do --bytes;
      while (bytes > 0 && (static_cast<unsigned char>(line[bytes]) & 0xC0) == 0x80);
    }
    mvaddnstr(static_cast<int>(row), 0, line.c_str(), static_cast<int>(bytes));
    if (row == 0) mvchgat(0, 0, -1, A_REVERSE, 0, nullptr);
  }
  refresh();
}

TopScreen::Key TopScreen::waitKey(int ms) {
  timeout(ms);
  const int key = getch();
  if (key == ERR) return Key::None;
  if (key == 'q' || key == 'Q' || key == 3) return Key::Quit;
  if (key == KEY_RESIZE) return Key::Resize;
  return Key::Other;
}

}  // namespace vhost
