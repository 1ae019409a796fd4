#include <iostream>

#include "driver/driver.h"
#include "driver/own_arguments.h"
#include "platform/env.h"

int main(int argc, char** argv) {
  // The run reads its own copy; the password in argv is blanked before it starts.
  const tavrin::OwnArguments arguments(argc, argv);
  return tavrin::RunTavrin(arguments.argc(), arguments.argv(), *tavrin::Env::Default(), std::cout,
                           std::cerr);
}
