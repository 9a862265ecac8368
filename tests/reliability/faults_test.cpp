// Faults while joining: the disk, the sources, stops and hung inputs.
#include <gtest/gtest.h>
