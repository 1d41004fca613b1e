// pairhits-merge (tools/programs.h).
#include "tools/programs.h"

int main(int argc, char** argv) { return pairhits::pairhits_merge_main(argc, argv, 1, 2); }
