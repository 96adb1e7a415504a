// The Windows build has no full-screen view: --top is refused with a reason.
#include "top/top_screen.h"

#include <io.h>

#include <cstdio>

namespace vhost {

bool TopScreen::stdoutIsTerminal() { return _isatty(_fileno(stdout)) != 0; }

bool TopScreen::supported(std::string& why) {
  why = "--top is not available in the Windows build; the default mode prints the same figures line by line";
  return false;
}

TopScreen::TopScreen() = default;
TopScreen::~TopScreen() = default;
int TopScreen::width() const { return 80; }
int TopScreen::height() const { return 24; }
bool TopScreen::unicode() const { return unicode_; }
void TopScreen::draw(const std::vector<std::string>&) {}
TopScreen::Key TopScreen::waitKey(int) { return Key::Quit; }

}  // namespace vhost
