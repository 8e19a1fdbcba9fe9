#include "qt_test_main.h"

#include <QCoreApplication>
#include <QTimer>

#include <gtest/gtest.h>

namespace vandry::testing {

bool runUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout)
{
    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.start(timeout);
    while (!done() && deadline.isActive())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return done();
}

} // namespace vandry::testing

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    QCoreApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
