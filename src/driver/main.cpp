#include <iostream>

#include "driver/driver.h"
#include "platform/env.h"

int main(int argc, char** argv) {
  return tavrin::RunTavrin(argc, argv, *tavrin::Env::Default(), std::cout, std::cerr);
}
