#include "cli/replica_gap_report.hpp"

int main(int argc, char** argv) { return meterops::cli::replica_gap_report_main(argc, argv); }
