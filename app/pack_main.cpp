#include <iostream>

#include "app/pack_progress.h"
#include "app/pack_run.h"

int main(int argc, char** argv) {
    return quorvex::pack_run(argc, argv, {std::cout, std::cerr, quorvex::standard_error_is_terminal()});
}
