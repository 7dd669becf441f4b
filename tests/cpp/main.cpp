// The C++ suites run inside an embedded interpreter, so helpers that raise
// Python exceptions can be checked directly. The module is registered as a
// built-in so that a suite can import it (its initialisation creates
// ZombieProcessError).
#include <Python.h>
#include <gtest/gtest.h>

extern "C" PyObject *PyInit__quarn_bsd(void);

int main(int argc, char **argv) {
    testing::InitGoogleTest(&argc, argv);
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    if (PyImport_AppendInittab("_quarn_bsd", PyInit__quarn_bsd) == -1)
        return 2;
    Py_InitializeEx(0);
    int rc = RUN_ALL_TESTS();
    Py_FinalizeEx();
    return rc;
}
