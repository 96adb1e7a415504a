// The terminal the live view draws on: full screen while it lives, keys, size. One
// implementation per platform (top/linux, top/windows), chosen by CMake.
#pragma once
#include <string>
#include <vector>

namespace vhost {

class TopScreen {
 public:
  // True when standard output is a terminal the view can draw on.
  static bool stdoutIsTerminal();
  // False, with a reason, when this build has no full-screen view.
  static bool supported(std::string& why);

  // Enters the full-screen mode; the destructor restores the terminal.
  TopScreen();
  ~TopScreen();
  TopScreen(const TopScreen&) = delete;
  TopScreen& operator=(const TopScreen&) = delete;

  int width() const;
  int height() const;
  // The terminal shows block characters (a UTF-8 locale).
  bool unicode() const;
  // Shows `lines`, each already fitted to the width, from the top.
  void draw(const std::vector<std::string>& lines);

  enum class Key { None, Quit, Resize, Other };
  // Waits at most `ms` for a key: q, Q or Ctrl-C quit.
  Key waitKey(int ms);

 private:
  bool unicode_ = false;
};

}  // namespace vhost
