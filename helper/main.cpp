#include "helper/HelperMain.h"

int main(int argc, char** argv) {
  return zephro::helperMain(argc, argv);
}
