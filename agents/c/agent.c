/* A buyer agent in one POSIX C file, a template to copy (the protocol: docs/protocol.md).
 *
 * Starts RemoteControl (found along PATH) on two pipes, logs in as MARKET_LOGIN with
 * MARKET_PASSWORD (defaults CLogin, TGatekeep), and bids while a good's price is at most
 * THRESHOLD percent of its resale price (argument one, default 90) and within its credit.
 * At the end of the market's output it closes its end of the command pipe and waits for the
 * gateway (SIGTERM after 5 s, SIGKILL 2 s later). Exit status 0 when the market closed and the
 * gateway exited 0, 1 otherwise.
 *
 *   cc -std=c11 -O2 -o agent agents/c/agent.c && PATH=build/bin:$PATH ./agent 90
 */
#define _POSIX_C_SOURCE 200809L
#include <errno.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

enum { kMaxLine = 1 << 16 }; /* the longest message kept; a longer one is skipped whole */

static FILE* market_out; /* the gateway's output: the market's messages */
static FILE* market_in;  /* the gateway's input: our commands */

static void send_line(const char* line) {
  if (market_in == NULL) return;
  if (fprintf(market_in, "%s\n", line) < 0 || fflush(market_in) != 0) {
    fclose(market_in); /* the gateway is gone: nothing more can be sent */
    market_in = NULL;
  }
}

static pid_t start_gateway(const char* login) {
  int to_gateway[2], from_gateway[2];
  if (pipe(to_gateway) != 0 || pipe(from_gateway) != 0) return -1;
  pid_t pid = fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    dup2(to_gateway[0], 0);
    dup2(from_gateway[1], 1);
    close(to_gateway[0]), close(to_gateway[1]), close(from_gateway[0]), close(from_gateway[1]);
    execlp("RemoteControl", "RemoteControl", login, (char*)NULL);
    fprintf(stderr, "agent: cannot start RemoteControl: %s\n", strerror(errno));
    _exit(127);
  }
  close(to_gateway[0]), close(from_gateway[1]);
  market_in = fdopen(to_gateway[1], "w");
  market_out = fdopen(from_gateway[0], "r");
  return market_in && market_out ? pid : -1;
}

/* Waits for the gateway, stopping it if it lingers; returns its wait status, or -1. */
static int end_gateway(pid_t pid) {
  const int signals[] = {0, SIGTERM, SIGKILL};
  const int grace_ms[] = {5000, 2000, 2000};
  for (int step = 0; step < 3; ++step) {
    if (signals[step] != 0) kill(pid, signals[step]);
    for (int waited = 0; waited <= grace_ms[step]; waited += 10) {
      int status = 0;
      pid_t done = waitpid(pid, &status, WNOHANG);
      if (done == pid) return status;
      if (done < 0 && errno != EINTR) return -1;
      struct timespec pause = {0, 10 * 1000 * 1000};
      nanosleep(&pause, NULL);
    }
  }
  return -1;
}

/* Reads one line without its newline into line[kMaxLine + 2]: 0 at end of input. A longer line
 * is skipped whole, and so is a last line cut short by the end of input. */
static int read_line(char* line) {
  int skipping = 0; /* inside a line too long to keep */
  while (fgets(line, kMaxLine + 2, market_out) != NULL) {
    size_t n = strlen(line);
    int ended = n > 0 && line[n - 1] == '\n';
    if (ended) line[n - 1] = '\0';
    if (ended && !skipping) return 1;
    skipping = !ended;
  }
  return 0;
}

int main(int argc, char** argv) {
  const char* login = getenv("MARKET_LOGIN") ? getenv("MARKET_LOGIN") : "CLogin";
  const char* password = getenv("MARKET_PASSWORD") ? getenv("MARKET_PASSWORD") : "TGatekeep";
  const long threshold = argc > 1 ? strtol(argv[1], NULL, 10) : 90;
  signal(SIGPIPE, SIG_IGN); /* a gateway gone shows as a failed write */
  pid_t gateway = start_gateway(login);
  if (gateway < 0) {
    fprintf(stderr, "agent: cannot start RemoteControl: %s\n", strerror(errno));
    return 1;
  }
  char admission[256];
  snprintf(admission, sizeof admission, "admission %s %s", login, password);
  send_line(admission);

  /* The market's state that the rule needs. */
  long credit = 50000, resale = 0, price = -1;
  int expelled = 0, closed = 0, bought = 0;
  static char line[kMaxLine + 2];
  while (read_line(line)) {
    char tag[32] = "", name[64] = "";
    long number = 0;
    if (sscanf(line, "%31s", tag) != 1) continue;
    if (strcmp(tag, "open_auction") == 0) {
      credit = 50000, expelled = 0, price = -1;
    } else if (strcmp(tag, "good") == 0) {
      price = -1;
      if (sscanf(line, "good %*s %*s %*s %*d %ld", &resale) != 1) resale = 0;
    } else if (strcmp(tag, "offer") == 0 || strcmp(tag, "collision") == 0) {
      price = sscanf(line, "%*s %*s %ld", &number) == 1 ? number : -1;
      if (price >= 0 && !expelled && price <= credit && price * 100 <= resale * threshold) {
        send_line("bid");
      }
    } else if (strcmp(tag, "sold") == 0) {
      price = -1;
      if (sscanf(line, "sold %63s %ld", name, &number) == 2 && strcmp(name, login) == 0) {
        credit -= number;
        ++bought;
      }
    } else if (strcmp(tag, "sanction") == 0 || strcmp(tag, "out_of_market") == 0) {
      price = -1;
    } else if (strcmp(tag, "expulsion") == 0) {
      if (sscanf(line, "expulsion %63s", name) == 1 && strcmp(name, login) == 0) expelled = 1;
    } else if (strcmp(tag, "closed_market") == 0) {
      closed = 1;
    } else if (strcmp(tag, "deny") == 0) {
      fprintf(stderr, "agent: %s\n", line);
    }
  }
  if (market_in != NULL) fclose(market_in);
  fclose(market_out);
  const int status = end_gateway(gateway);
  const int gateway_ok = status >= 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  printf("%s: bought %d goods, gateway %s\n", login, bought, gateway_ok ? "exit 0" : "failed");
  return closed && gateway_ok ? 0 : 1;
}
