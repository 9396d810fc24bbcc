#include "cli/replica_gap_report.hpp"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sstream>

#include <gtest/gtest.h>

using namespace meterops::cli;

namespace {
Date d(const char* t) { return valid_date(t); }
}  // namespace

TEST(GapReportRanges, ConsecutiveDaysJoin) {
  EXPECT_EQ(day_ranges({d("2024-01-03"), d("2024-01-04"), d("2024-01-05"), d("2024-01-09")}),
            (std::vector<std::string>{"2024-01-03 to 2024-01-05", "2024-01-09"}));
  EXPECT_EQ(day_ranges({d("2024-01-03")}), (std::vector<std::string>{"2024-01-03"}));
  EXPECT_EQ(day_ranges({d("2024-01-01"), d("2024-01-03")}), (std::vector<std::string>{"2024-01-01", "2024-01-03"}));
  EXPECT_EQ(day_ranges({d("2024-01-01"), d("2024-01-02")}), (std::vector<std::string>{"2024-01-01 to 2024-01-02"}));
  EXPECT_EQ(day_ranges({d("2023-12-31"), d("2024-01-01")}), (std::vector<std::string>{"2023-12-31 to 2024-01-01"}));
  EXPECT_TRUE(day_ranges({}).empty());
}

TEST(GapReportPrint, OneDirectoryKeepsThePluralAndEmptyListsPrintCountZero) {
  std::ostringstream out;
  print_report({{"Plot-01", {}}}, d("2024-01-01"), d("2024-01-02"), out);
  EXPECT_NE(out.str().find("\nFound missing files in 1 directories:\n\nDirectory: Plot-01\n  Missing 0 day(s):\n"),
            std::string::npos);
  EXPECT_EQ(out.str().find("    - "), std::string::npos);
}

TEST(GapReportInterrupt, HandlerPrintsAndExitsOne) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  pid_t pid = fork();
  if (pid == 0) {
    dup2(fds[1], STDOUT_FILENO);
    install_interrupt_handler();
    raise(SIGINT);
    _exit(99);  // not reached
  }
  close(fds[1]);
  std::string out;
  char buf[256];
  ssize_t n;
  while ((n = read(fds[0], buf, sizeof buf)) > 0) out.append(buf, static_cast<std::size_t>(n));
  close(fds[0]);
  int ws = 0;
  waitpid(pid, &ws, 0);
  ASSERT_TRUE(WIFEXITED(ws));
  EXPECT_EQ(WEXITSTATUS(ws), 1);
  EXPECT_EQ(out, "\nKeyboardInterrupt: Operation cancelled by user.\n");
}
