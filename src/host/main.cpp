// varnel-host: loads the plug-in as the host would and shows or scripts what it does.
#include <exception>
#include <iostream>

#include "runner.h"
#include "stdout_mode.h"

int main(int argc, char** argv) {
  try {
    vhost::useUntranslatedStdout();
    return vhost::runHost({argv + 1, argv + argc}, std::cin, std::cout, std::cerr);
  } catch (const std::exception& e) {
    std::cerr << "varnel-host: " << e.what() << std::endl;
    return 1;
  }
}
