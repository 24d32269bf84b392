#include <iostream>

#include "Commands.h"
#include "ProgressBar.h"

int main(int argc, char** argv)
{
    return velmora_cli::RunCli(argc, argv, std::cout, std::cerr, velmora_cli::StderrIsTerminal());
}
