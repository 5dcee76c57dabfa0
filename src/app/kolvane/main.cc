#include "driver/driver.h"

int main(int argc, char** argv) {
  return kolvane::run_program(argc, argv);
}
