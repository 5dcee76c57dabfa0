/* The system-call floors kolvane is measured against: loops that make exactly the calls
 * kolvane makes for one shape of run, and nothing else. Built by bench/compare.sh.
 *
 *   floors write BS COUNT            COUNT writes of BS bytes to /dev/null (the zero source
 *                                    to the null sink: kolvane never reads /dev/zero)
 *   floors random IN OUT BS ITER     ITER times: lseek IN, lseek OUT (unless OUT is
 *                                    /dev/null), read BS, write BS, at random block offsets
 *   floors plan IN ITER              ITER times: the rand() calls and reductions of one
 *                                    drawn input offset (count=0, bs=512), then lseek IN
 *   floors seek IN ITER              ITER times: lseek IN at a random 512-byte block, with no
 *                                    rand() call (what the draws cost is the difference)
 */
#define _FILE_OFFSET_BITS 64
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

static void die(const char* what) {
  perror(what);
  exit(1);
}

static uint64_t number(const char* text) { return strtoull(text, NULL, 10); }

static unsigned char* buffer(uint64_t n) {
  void* p = NULL;
  if (posix_memalign(&p, 4096, n) != 0) die("posix_memalign");
  memset(p, 0, n);
  return p;
}

static int write_floor(uint64_t bs, uint64_t count) {
  unsigned char* buf = buffer(bs);
  int out = open("/dev/null", O_WRONLY);
  if (out < 0) die("/dev/null");
  for (uint64_t i = 0; i < count; ++i) {
    if (write(out, buf, bs) != (ssize_t)bs) die("write");
  }
  close(out);
  free(buf);
  return 0;
}

/* A cheap generator: the floor draws its offsets with no rand() calls at all. */
static uint64_t next_random(uint64_t* state) {
  uint64_t x = *state;
  x ^= x << 13;
  x ^= x >> 7;
  x ^= x << 17;
  return *state = x;
}

static int random_floor(const char* in_name, const char* out_name, uint64_t bs, uint64_t iter) {
  int in = open(in_name, O_RDONLY);
  if (in < 0) die(in_name);
  int positioned = strcmp(out_name, "/dev/null") != 0;
  int out = open(out_name, O_WRONLY);
  if (out < 0) die(out_name);
  struct stat st;
  if (fstat(in, &st) != 0) die("fstat");
  uint64_t in_blocks = (uint64_t)st.st_size / bs;
  uint64_t out_blocks = 1;
  if (positioned) {
    if (fstat(out, &st) != 0) die("fstat");
    out_blocks = (uint64_t)st.st_size / bs;
  }
  unsigned char* buf = buffer(bs);
  uint64_t state = 0x9E3779B97F4A7C15ull ^ (uint64_t)getpid();
  for (uint64_t i = 0; i < iter; ++i) {
    if (lseek(in, (off_t)(next_random(&state) % in_blocks * bs), SEEK_SET) < 0) die("lseek");
    if (positioned &&
        lseek(out, (off_t)(next_random(&state) % out_blocks * bs), SEEK_SET) < 0) {
      die("lseek");
    }
    if (read(in, buf, bs) != (ssize_t)bs) die("read");
    if (write(out, buf, bs) != (ssize_t)bs) die("write");
  }
  free(buf);
  close(out);
  close(in);
  return 0;
}

/* kolvane's draw of one value below n: one rand() per 32767 of n, reduced, and a last one. */
static uint32_t draw_value(uint32_t n) {
  uint32_t sum = 0;
  while (n > 32767) {
    sum += (uint32_t)(rand() % 32768);
    n -= 32767;
  }
  if (n != 0) sum += (uint32_t)rand() % n;
  return sum;
}

static int plan_floor(const char* in_name, uint64_t iter) {
  int in = open(in_name, O_RDONLY);
  if (in < 0) die(in_name);
  struct stat st;
  if (fstat(in, &st) != 0) die("fstat");
  /* count=0 bs=512 skip=0: the offsets are drawn below size - 2, in four 16-bit digits. */
  uint64_t range = (uint64_t)st.st_size - 2;
  uint32_t digit[4];
  uint32_t nonzero[4];
  int positions = 0;
  for (int i = 0; i < 4; ++i) {
    digit[i] = (uint32_t)(range >> (16 * i)) & 0xFFFF;
    if (digit[i] != 0) nonzero[positions++] = (uint32_t)i;
  }
  if (positions == 0) return 1;
  srand((unsigned)getpid());
  for (uint64_t j = 0; j < iter; ++j) {
    uint32_t pivot = nonzero[(uint32_t)rand() % (uint32_t)positions];
    uint64_t offset = 0;
    for (uint32_t i = 0; i < 4; ++i) {
      uint32_t d = i < pivot ? draw_value(65536) : draw_value(i == pivot ? digit[i] : digit[i] + 1);
      offset |= (uint64_t)d << (16 * i);
    }
    offset = (offset + 1) & ~(uint64_t)511;
    if (lseek(in, (off_t)offset, SEEK_SET) < 0) die("lseek");
  }
  close(in);
  return 0;
}

static int seek_floor(const char* in_name, uint64_t iter) {
  int in = open(in_name, O_RDONLY);
  if (in < 0) die(in_name);
  struct stat st;
  if (fstat(in, &st) != 0) die("fstat");
  uint64_t blocks = (uint64_t)st.st_size / 512;
  uint64_t state = 0x9E3779B97F4A7C15ull ^ (uint64_t)getpid();
  for (uint64_t j = 0; j < iter; ++j) {
    if (lseek(in, (off_t)(next_random(&state) % blocks * 512), SEEK_SET) < 0) die("lseek");
  }
  close(in);
  return 0;
}

int main(int argc, char** argv) {
  if (argc == 4 && strcmp(argv[1], "write") == 0) {
    return write_floor(number(argv[2]), number(argv[3]));
  }
  if (argc == 6 && strcmp(argv[1], "random") == 0) {
    return random_floor(argv[2], argv[3], number(argv[4]), number(argv[5]));
  }
  if (argc == 4 && strcmp(argv[1], "plan") == 0) return plan_floor(argv[2], number(argv[3]));
  if (argc == 4 && strcmp(argv[1], "seek") == 0) return seek_floor(argv[2], number(argv[3]));
  fprintf(stderr,
          "usage: floors write BS COUNT | random IN OUT BS ITER | plan IN ITER | seek IN ITER\n");
  return 2;
}
