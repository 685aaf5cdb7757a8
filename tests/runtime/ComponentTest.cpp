// Component ownership and free notification.
#include <gtest/gtest.h>
#include <vector>

#include "runtime/Classes.h"

using namespace kivo;

namespace {

struct TProbe : TComponent {
    TProbe(TComponent* AOwner, std::vector<std::string>* ALog, std::string AName)
        : TComponent(AOwner), Log(ALog) {
        SetName(std::move(AName));
    }
    ~TProbe() override { Log->push_back("free " + Name()); }
    void Notification(TComponent* AComponent, TOperation Operation) override {
        TComponent::Notification(AComponent, Operation);
        if (Operation == opRemove) Log->push_back(Name() + " sees " + AComponent->Name() + " go");
    }
    std::vector<std::string>* Log;
};

} // namespace

TEST(Component, OwnerFreesWhatItOwnsAndChildrenLeaveTheirOwner) {
    std::vector<std::string> Log;
    auto* Owner = new TProbe(nullptr, &Log, "owner");
    auto* A = new TProbe(Owner, &Log, "a");
    new TProbe(Owner, &Log, "b");
    EXPECT_EQ(Owner->ComponentCount(), 2);
    EXPECT_EQ(A->Owner(), Owner);
    delete A; // freed before its owner: the owner forgets it
    EXPECT_EQ(Owner->ComponentCount(), 1);
    EXPECT_THROW(Owner->Components(1), EListError);
    delete Owner;
    EXPECT_NE(std::find(Log.begin(), Log.end(), "free owner"), Log.end());
    EXPECT_NE(std::find(Log.begin(), Log.end(), "free b"), Log.end());
}

TEST(Component, FreeNotificationTellsAnUnrelatedComponent) {
    std::vector<std::string> Log;
    TProbe Watcher(nullptr, &Log, "watcher");
    auto* Meter = new TProbe(nullptr, &Log, "meter");
    Meter->FreeNotification(&Watcher);
    delete Meter;
    EXPECT_NE(std::find(Log.begin(), Log.end(), "watcher sees meter go"), Log.end());
}
