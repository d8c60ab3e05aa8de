#include <QTest>

#include "shell_tests.h"

QTEST_MAIN(ShellTest)
