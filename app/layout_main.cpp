#include <iostream>

#include "app/layout_run.h"

int main(int argc, char** argv) { return quorvex::layout_run(argc, argv, std::cout, std::cerr); }
