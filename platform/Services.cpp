// The services in force: a stand-in where one was installed, else the
// system's own. Serves both systems.
#include "platform/Process.h"
#include "platform/Security.h"
#include "platform/SystemServices.h"

namespace kivo {

namespace {

IAccountFacts*& FactsSlot() {
    static IAccountFacts* Facts = nullptr;
    return Facts;
}

IElevator*& ElevatorSlot() {
    static IElevator* Slot = nullptr;
    return Slot;
}

} // namespace

IAccountFacts& AccountFacts() {
    IAccountFacts* Facts = FactsSlot();
    return Facts != nullptr ? *Facts : SystemAccountFacts();
}

IAccountFacts* SetAccountFacts(IAccountFacts* Facts) {
    IAccountFacts* Previous = FactsSlot();
    FactsSlot() = Facts;
    return Previous;
}

IElevator& Elevator() {
    IElevator* E = ElevatorSlot();
    return E != nullptr ? *E : SystemElevator();
}

IElevator* SetElevator(IElevator* AElevator) {
    IElevator* Previous = ElevatorSlot();
    ElevatorSlot() = AElevator;
    return Previous;
}

} // namespace kivo
