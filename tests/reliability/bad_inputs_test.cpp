// Files that are not what they claim, and paths that are not plain files.
#include <gtest/gtest.h>
