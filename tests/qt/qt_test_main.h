#pragma once
// Shared by the Qt adapter tests, whose executable runs inside a QCoreApplication (qt_test_main.cpp).

#include <chrono>
#include <functional>

namespace vandry::testing {

// Processes this thread's events until `done` holds. The timeout only bounds a broken test;
// returns whether `done` held in time.
bool runUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = std::chrono::seconds(20));

} // namespace vandry::testing
