// pairhits-partitioned (tools/programs.h).
#include "tools/programs.h"

int main(int argc, char** argv) { return pairhits::pairhits_partitioned_main(argc, argv, 1, 2); }
