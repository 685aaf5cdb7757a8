// Inside the platform: the system's own implementations of the services that
// tests and callers may replace. Each system's source files define them;
// Services.cpp keeps which implementation is in force.
#pragma once

namespace kivo {

class IAccountFacts;
class IElevator;

IAccountFacts& SystemAccountFacts();
IElevator& SystemElevator();

} // namespace kivo
