#include <iostream>

#include "app/run.h"

int main(int argc, char** argv) { return quorvex::run(argc, argv, std::cout); }
