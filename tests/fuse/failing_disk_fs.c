/* A failing disk for tests: serves one image file read-only as one file and
 * answers EIO to every read that touches a listed sector, as a disk with bad
 * sectors does. The file is opened with direct_io, so every read reaches this
 * program with its exact offset and length (no page cache in between), and a
 * read-only loop device on top of it behaves like a failing USB disk.
 *
 *   failing_disk_fs IMAGE MOUNTPOINT [--name NAME] [--bad LIST] [--bad-file FILE]
 *                   [--log FILE] [--read-log FILE] [--delay-us N] [FUSE options, e.g. -s -f]
 *
 * LIST is sectors and ranges of 512-byte sectors, "100,200-207" (end
 * inclusive); FILE holds the same, one item a line or separated by commas or
 * spaces. With --log every read that touches bad sectors appends one line per
 * bad sector it touched, so a test can count how often each was read.
 * With --read-log every read appends "FIRST END" (its 512-byte sectors, end
 * exclusive), failed or not, so a test can tell which sectors were read at
 * all. --delay-us makes every read take that long, as a slow disk does, so
 * a test can stop a copy half-way.
 */
#define FUSE_USE_VERSION 31
#include <errno.h>
#include <fcntl.h>
#include <fuse.h>
#include <inttypes.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

static int image_fd = -1;
static off_t image_size;
static char file_path[512] = "/disk.img";
static uint64_t *bad;
static size_t bad_count, bad_capacity;
static FILE *hit_log;
static FILE *read_log;
static unsigned long delay_us;

static int add_bad(uint64_t first, uint64_t last) {
  if (last < first || last - first > (1u << 24)) return -1;
  for (uint64_t s = first;; ++s) {
    if (bad_count == bad_capacity) {
      size_t capacity = bad_capacity ? bad_capacity * 2 : 64;
      uint64_t *grown = realloc(bad, capacity * sizeof *bad);
      if (!grown) return -1;
      bad = grown;
      bad_capacity = capacity;
    }
    bad[bad_count++] = s;
    if (s == last) break;
  }
  return 0;
}

/* "100,200-207 300" */
static int parse_list(const char *text) {
  const char *p = text;
  while (*p) {
    if (*p == ',' || *p == ' ' || *p == '\n' || *p == '\t' || *p == '\r') {
      ++p;
      continue;
    }
    char *end;
    errno = 0;
    uint64_t first = strtoull(p, &end, 10), last = first;
    if (end == p || errno) return -1;
    p = end;
    if (*p == '-') {
      ++p;
      last = strtoull(p, &end, 10);
      if (end == p || errno) return -1;
      p = end;
    }
    if (add_bad(first, last) != 0) return -1;
  }
  return 0;
}

static int compare(const void *a, const void *b) {
  uint64_t x = *(const uint64_t *)a, y = *(const uint64_t *)b;
  return x < y ? -1 : x > y;
}

/* Index of the first bad sector >= sector. */
static size_t first_bad_from(uint64_t sector) {
  size_t lo = 0, hi = bad_count;
  while (lo < hi) {
    size_t mid = lo + (hi - lo) / 2;
    if (bad[mid] < sector) lo = mid + 1;
    else hi = mid;
  }
  return lo;
}

static int fs_getattr(const char *path, struct stat *st, struct fuse_file_info *fi) {
  (void)fi;
  memset(st, 0, sizeof *st);
  if (strcmp(path, "/") == 0) {
    st->st_mode = S_IFDIR | 0555;
    st->st_nlink = 2;
    return 0;
  }
  if (strcmp(path, file_path) == 0) {
    st->st_mode = S_IFREG | 0444;
    st->st_nlink = 1;
    st->st_size = image_size;
    return 0;
  }
  return -ENOENT;
}

static int fs_readdir(const char *path, void *buf, fuse_fill_dir_t fill, off_t offset, struct fuse_file_info *fi,
                      enum fuse_readdir_flags flags) {
  (void)offset, (void)fi, (void)flags;
  if (strcmp(path, "/") != 0) return -ENOENT;
  fill(buf, ".", NULL, 0, 0);
  fill(buf, "..", NULL, 0, 0);
  fill(buf, file_path + 1, NULL, 0, 0);
  return 0;
}

static int fs_open(const char *path, struct fuse_file_info *fi) {
  if (strcmp(path, file_path) != 0) return -ENOENT;
  if ((fi->flags & O_ACCMODE) != O_RDONLY) return -EROFS;
  fi->direct_io = 1;
  return 0;
}

static int fs_read(const char *path, char *buf, size_t size, off_t offset, struct fuse_file_info *fi) {
  (void)path, (void)fi;
  if (offset < 0 || offset >= image_size || size == 0) return 0;
  if ((off_t)size > image_size - offset) size = (size_t)(image_size - offset);
  const uint64_t first = (uint64_t)offset / 512, end = ((uint64_t)offset + size + 511) / 512;
  if (delay_us) usleep((useconds_t)delay_us);
  if (read_log) {
    fprintf(read_log, "%" PRIu64 " %" PRIu64 "\n", first, end);
    fflush(read_log);
  }
  size_t i = first_bad_from(first);
  if (i < bad_count && bad[i] < end) {
    if (hit_log) {
      for (; i < bad_count && bad[i] < end; ++i) fprintf(hit_log, "%" PRIu64 "\n", bad[i]);
      fflush(hit_log);
    }
    return -EIO;
  }
  size_t done = 0;
  while (done < size) {
    ssize_t n = pread(image_fd, buf + done, size - done, offset + (off_t)done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -errno;
    if (n == 0) break;
    done += (size_t)n;
  }
  return (int)done;
}

static const struct fuse_operations operations = {
    .getattr = fs_getattr,
    .readdir = fs_readdir,
    .open = fs_open,
    .read = fs_read,
};

static int usage(void) {
  fprintf(stderr,
          "usage: failing_disk_fs IMAGE MOUNTPOINT [--name NAME] [--bad LIST] [--bad-file FILE] [--log FILE] "
          "[--read-log FILE] [--delay-us N] [FUSE options]\n");
  return 2;
}

int main(int argc, char *argv[]) {
  if (argc < 3) return usage();
  const char *image = argv[1];
  char **fuse_argv = calloc((size_t)argc + 1, sizeof *fuse_argv);
  if (!fuse_argv) return 1;
  int fuse_argc = 0;
  fuse_argv[fuse_argc++] = argv[0];
  fuse_argv[fuse_argc++] = argv[2];
  for (int i = 3; i < argc; ++i) {
    const int more = i + 1 < argc;
    if (strcmp(argv[i], "--name") == 0 && more) {
      const char *name = argv[++i];
      if (!*name || strchr(name, '/') || strlen(name) + 2 > sizeof file_path) return usage();
      snprintf(file_path, sizeof file_path, "/%s", name);
    } else if (strcmp(argv[i], "--bad") == 0 && more) {
      if (parse_list(argv[++i]) != 0) {
        fprintf(stderr, "failing_disk_fs: bad sector list not understood: %s\n", argv[i]);
        return 2;
      }
    } else if (strcmp(argv[i], "--bad-file") == 0 && more) {
      FILE *f = fopen(argv[++i], "r");
      if (!f) {
        perror(argv[i]);
        return 1;
      }
      char *text = NULL;
      size_t length = 0;
      FILE *mem = open_memstream(&text, &length);
      int c;
      while (mem && (c = fgetc(f)) != EOF) fputc(c, mem);
      fclose(f);
      if (!mem) return 1;
      fclose(mem);
      int parsed = parse_list(text);
      free(text);
      if (parsed != 0) {
        fprintf(stderr, "failing_disk_fs: bad sector file not understood: %s\n", argv[i]);
        return 2;
      }
    } else if (strcmp(argv[i], "--log") == 0 && more) {
      hit_log = fopen(argv[++i], "a");
      if (!hit_log) {
        perror(argv[i]);
        return 1;
      }
    } else if (strcmp(argv[i], "--read-log") == 0 && more) {
      read_log = fopen(argv[++i], "a");
      if (!read_log) {
        perror(argv[i]);
        return 1;
      }
    } else if (strcmp(argv[i], "--delay-us") == 0 && more) {
      char *end;
      delay_us = strtoul(argv[++i], &end, 10);
      if (*end || delay_us > 10000000ul) return usage();
    } else {
      fuse_argv[fuse_argc++] = argv[i];
    }
  }
  if (bad_count) qsort(bad, bad_count, sizeof *bad, compare);
  image_fd = open(image, O_RDONLY | O_CLOEXEC);
  struct stat st;
  if (image_fd < 0 || fstat(image_fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    fprintf(stderr, "failing_disk_fs: %s: not a readable file\n", image);
    return 1;
  }
  image_size = st.st_size;
  return fuse_main(fuse_argc, fuse_argv, &operations, NULL);
}
