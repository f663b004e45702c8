#include <iostream>

#include "app/pack_run.h"

int main(int argc, char** argv) { return pack_run(argc, argv, std::cout); }
