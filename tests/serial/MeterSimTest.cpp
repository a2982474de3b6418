// meter-sim smoke tests.
#include <gtest/gtest.h>
