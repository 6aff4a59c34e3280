// Test helpers for code that must run in a process of its own (unixODBC
// reads ODBCSYSINI once per process) or as a separate program.
#ifndef HVQ_REPAIR_TESTING_CHILD_PROCESS_H_
#define HVQ_REPAIR_TESTING_CHILD_PROCESS_H_

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <string>

namespace hvq::testing {

// Runs `body` in a forked child and returns the text it produced, or
// "<child crashed>" when the child did not exit normally.
inline std::string InChild(const std::function<std::string()>& body) {
  int fds[2];
  if (::pipe(fds) != 0) return "<pipe failed>";
  pid_t pid = ::fork();
  if (pid == 0) {
    ::close(fds[0]);
    std::string out = body();
    size_t done = 0;
    while (done < out.size()) {
      ssize_t n = ::write(fds[1], out.data() + done, out.size() - done);
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
    ::_exit(0);
  }
  ::close(fds[1]);
  std::string out;
  char buf[4096];
  ssize_t n;
  while ((n = ::read(fds[0], buf, sizeof buf)) > 0) out.append(buf, n);
  ::close(fds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return "<child crashed>";
  return out;
}

// Runs a shell command; returns its standard output and sets *exit_code
// (-1 when it did not exit normally).
inline std::string RunCommand(const std::string& cmd, int* exit_code) {
  std::string out;
  FILE* p = ::popen(cmd.c_str(), "r");
  if (!p) {
    *exit_code = -1;
    return out;
  }
  char buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  int status = ::pclose(p);
  *exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return out;
}

// Single-quotes `s` for the shell.
inline std::string ShellQuote(const std::string& s) {
  std::string out = "'";
  for (char c : s) {
    if (c == '\'') {
      out += "'\\''";
    } else {
      out += c;
    }
  }
  return out + "'";
}

}  // namespace hvq::testing

#endif  // HVQ_REPAIR_TESTING_CHILD_PROCESS_H_
