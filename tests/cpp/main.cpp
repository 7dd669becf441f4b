// The C++ suites run inside an embedded interpreter, so helpers that raise
// Python exceptions can be checked directly.
#include <Python.h>
#include <gtest/gtest.h>

int main(int argc, char **argv) {
    testing::InitGoogleTest(&argc, argv);
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    Py_InitializeEx(0);
    int rc = RUN_ALL_TESTS();
    Py_FinalizeEx();
    return rc;
}
