// Knowing, from outside and without its help, that an agent program has finished reacting to what
// the market sent it: the stepped clock's question, on Linux.
//
// The gateway is the agent's child and holds the other ends of both of its pipes. The agent is
// waiting for the market when
//  (a) it has read every byte written to it (FIONREAD on the pipe the gateway writes to: Linux
//      answers it on either end of a pipe),
//  (b) nothing it wrote is still unread by the gateway (FIONREAD on the gateway's read end; the
//      gateway's own unread and unsent bytes are its caller's business), and
//  (c) every thread of the agent, and of every process the agent started other than the gateway,
//      is asleep, and not in a timed sleep (/proc/PID/task/TID/stat and wchan, and where the
//      kernel lets the gateway read it, the system call it sleeps in and its timeout).
// The threads are looked at after (a) and (b), then (a) and (b) again, then the threads again: an
// answer of "idle" needs both looks to find the same threads asleep with the same CPU time used
// (/proc/PID/task/TID/schedstat), so a thread that ran between the looks, or a bid written
// meanwhile, makes the answer "busy".
//
// What the watch cannot see, and what an agent must therefore not do to be decided the same every
// time: wake by itself (a timer, a wait with a timeout on anything, a signal it arranged), leave
// work to a process it did not start (or whose parent has gone), or wait on something other than
// the market's output (a file, a socket, a device). Timed sleeps and timeouts are seen where the
// kernel shows them, and make the agent busy; the rest is not seen. Either way the tick's deadline
// still applies, and a tick that ends at its deadline while the agent is busy is recorded as a
// late tick of that agent.
#ifndef GATEWAY_AGENT_WATCH_H_
#define GATEWAY_AGENT_WATCH_H_

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace gateway {

// How one process tree looks at one moment.
class ThreadLook {
 public:
  // Every thread of `root` and of its descendants except `self` and its own descendants, each
  // with its state; false as soon as one is not asleep (running, runnable, in disk wait, stopped,
  // or asleep with a timeout), or when the tree is larger than kMaxThreads.
  bool Take(pid_t root, pid_t self);
  bool operator==(const ThreadLook& other) const { return marks_ == other.marks_; }

  static constexpr size_t kMaxThreads = 1024;

 private:
  struct Mark {
    pid_t tid = 0;
    uint64_t runtime_ns = 0;  // CPU time used so far
    bool operator==(const Mark&) const = default;
  };
  bool TakeProcess(pid_t pid, pid_t self, int depth);
  std::vector<Mark> marks_;
};

class AgentWatch {
 public:
  // A watch of agent process `agent` on the gateway's pipe ends `to_agent` (written) and
  // `from_agent` (read). Empty when the agent cannot be watched, with *why set (no /proc, a pipe
  // end that is not a pipe, a process that is not readable).
  static std::optional<AgentWatch> Open(pid_t agent, int to_agent, int from_agent,
                                        std::string* why);

  // The agent that started this process: the nearest ancestor holding the write end of
  // `from_agent` (the agent writes where the gateway reads). Empty with *why when none does.
  static std::optional<pid_t> FindAgent(int from_agent, std::string* why);

  // True when (a), (b) and (c) hold, as above.
  bool Idle();

  pid_t agent() const { return agent_; }

 private:
  AgentWatch(pid_t agent, int to_agent, int from_agent)
      : agent_(agent), to_agent_(to_agent), from_agent_(from_agent), self_(getpid_()) {}
  static pid_t getpid_();
  bool PipesEmpty() const;

  pid_t agent_;
  int to_agent_;
  int from_agent_;
  pid_t self_;
  ThreadLook first_;
  ThreadLook second_;
};

}  // namespace gateway

#endif  // GATEWAY_AGENT_WATCH_H_
