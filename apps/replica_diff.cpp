#include "cli/replica_diff.hpp"

int main(int argc, char** argv) { return meterops::cli::replica_diff_main(argc, argv); }
