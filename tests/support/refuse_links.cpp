// Preloaded by the mounted tests to stand for a file system that answers
// every link with ENOSYS, as some cloud-drive mounts do.
#include <errno.h>

extern "C" {

int link(const char*, const char*) {
  errno = ENOSYS;
  return -1;
}

int linkat(int, const char*, int, const char*, int) {
  errno = ENOSYS;
  return -1;
}

}  // extern "C"
