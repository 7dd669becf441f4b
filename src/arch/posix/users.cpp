#include "arch/posix/users.h"

#include <cstring>

#include "arch/all/convert.h"
#include "arch/all/owners.h"
#include "bsd.h"

namespace {

// One login record as the (user, line, host, started, pid) tuple.
PyObject *utmpx2py(const bsd::utmpx *ut) {
    std::size_t len = strnlen(ut->ut_host, sizeof(ut->ut_host));
    // The local display counts as this machine.
    bool local = len == 0 || (len == 2 && std::memcmp(ut->ut_host, ":0", 2) == 0) ||
                 (len == 4 && std::memcmp(ut->ut_host, ":0.0", 4) == 0);
    py_ref user(field2py(ut->ut_user, sizeof(ut->ut_user)));
    if (!user)
        return nullptr;
    py_ref line(field2py(ut->ut_line, sizeof(ut->ut_line)));
    if (!line)
        return nullptr;
    py_ref host(local ? PyUnicode_DecodeFSDefault("localhost")
                      : field2py(ut->ut_host, sizeof(ut->ut_host)));
    if (!host)
        return nullptr;
    return Py_BuildValue("OOOdi", user.get(), line.get(), host.get(),
                         static_cast<double>(ut->ut_tv.tv_sec), ut->ut_pid);
}

// Appends a tuple for each user process's record: 0, or -1 with the
// exception set.
int append_users(PyObject *list) {
    bsd::utmpx *ut;
    while ((ut = bsd::getutxent()) != nullptr) {
        if (ut->ut_type != USER_PROCESS)
            continue;
        if (append_new(list, utmpx2py(ut)) == -1)
            return -1;
    }
    return 0;
}

}  // namespace

extern "C" PyObject *quarn_users(PyObject *, PyObject *) {
    py_ref list(PyList_New(0));
    if (!list)
        return nullptr;
    bsd::setutxent();
    int rc = append_users(list.get());
    bsd::endutxent();
    return rc == 0 ? list.release() : nullptr;
}
