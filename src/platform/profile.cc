#include "platform/profile.h"

namespace kolvane {

const PlatformProfile posix_profile = {
    64,
    UINT64_MAX,
    "\n"
    "Usage: %s [if=FILE] [of=FILE] [bs=BYTES] [ibs=BYTES] [obs=BYTES] [dio=N] \n"
    "               [skip=BLOCKS] [seek=BLOCKS] [count=BLOCKS] [conv=CONVERSION]\n"
    "\n",
    "Examples:\n"
    "\n"
    "  %s if=/myfs1/myinputfile of=/myfs2/myoutputfile bs=1m\n"
    "  copies the file /myfs1/myinputfile to /myfs2/myoutputfile using 1MB buffer\n"
    "\n"
    "  %s if=/myfs1/myinputfile of=/myfs2/myoutputfile\n"
    "  copies the file /myfs1/myinputfile to the file /myfs2/myoutputfile using\n"
    "  the default buffer size (512 bytes)\n"
    "\n"
    "  %s if=/myfs1/myinputfile of=/myfs2/myoutputfile conv=notrunc\n"
    "  copies the file /myfs1/myinputfile to the file /myfs2/myoutputfile without\n"
    "  truncating the pre-existing file /myfs2/myoutputfile\n"
    "\n"
    "  %s if=/myfs/myinputfile bs=8k count=2 of=/dev/null iterations=10\n"
    "  copies the file /myfs/myinputfile to /dev/null 10 times, with different\n"
    "  (randomly generated) skip offsets (from the start of the input file) for each\n"
    "  iteration, with blocksize 8k and 2 blocks copied in each iteration\n",
    nullptr,
    nullptr,
    OffsetStyle::whole,
    false,
    nullptr,
    false,
    nullptr,
    RandAlgorithm::additive_feedback,
};

const PlatformProfile win32_profile = {
    32,
    UINT32_MAX,
    "\n"
    "Usage: kolvane [if=FILE] [of=FILE] [bs=BYTES] [ibs=BYTES] [obs=BYTES] [dio=N] \n"
    "               [skip=BLOCKS] [seek=BLOCKS] [count=BLOCKS] [conv=CONVERSION]\n"
    "\n",
    "Examples:\n"
    "\n"
    "  kolvane if=e:\\x.img of=\\\\.\\x: bs=1m\n"
    "  copies the file e:\\x.img to the volume X: using 1MB buffer\n"
    "\n"
    "  kolvane if=\\\\.\\z: of=z.img\n"
    "  copies the volume Z: to the file z.img using the default buffer (512 bytes)\n"
    "\n"
    "  kolvane if=g:\\x.img of=h:\\y.img conv=notrunc\n"
    "  copies the file g:\\x.img to the file h:\\y.img without truncating the h:\\y.img\n"
    "\n"
    "  kolvane if=g:\\myinputfile bs=8k count=2 of=/dev/null iterations=10\n"
    "  copies the file g:\\myinputfile to nul (/dev/null) 10 times, with different\n"
    "  (randomly generated) skip offsets (from the start of the input file) for each\n"
    "  iteration, with blocksize 8k and 2 blocks copied in each iteration\n",
    "error skipping '%s': ",
    "error seeking '%s': ",
    OffsetStyle::halves,
    true,
    "(null)",
    true,
    "poll=2 is not available on Windows: the system has no thread that submits I/Os for a "
    "program\n",
    RandAlgorithm::linear_congruential,
};

}  // namespace kolvane
