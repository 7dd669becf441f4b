#include "arch/all/constants.h"

int quarn_add_constants(PyObject *mod, const quarn_constant *table, std::size_t count) {
    for (std::size_t i = 0; i < count; i++) {
        if (PyModule_AddIntConstant(mod, table[i].name, table[i].value))
            return -1;
    }
    return 0;
}
