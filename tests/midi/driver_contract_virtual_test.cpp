// The driver contract on the in-process virtual driver. Its far end is a port pair's; a
// second pair before it checks that messages go to the chosen device only.

#include "midi/drivers/virtual/virtual_backend.hpp"
#include "support/driver_contract.hpp"

namespace tq5::test {
namespace {

class VirtualLink {
public:
    VirtualLink()
        : decoy_(backend_.AddPair("USB Audio Device", "USB Audio Device")),
          pair_(backend_.AddPair("TQ-5 In", "TQ-5 Out")) {}
    ~VirtualLink() {
        EXPECT_TRUE(decoy_.SentMessages().empty()) << "a message went to another device";
    }

    static std::string SkipReason() { return {}; }
    midi::MidiBackend& Backend() { return backend_; }
    std::int32_t OutputIndex() const { return 1; }
    std::int32_t InputIndex() const { return 1; }
    std::vector<Bytes> FarEndReceived() const { return pair_.SentMessages(); }
    void FarEndSend(const Bytes& message) { pair_.SendToInput(message.data(), message.size()); }
    void HoldSends() { pair_.SetHoldSends(true); }
    void ReleaseSends() { pair_.SetHoldSends(false); }
    // The held message never left, and no send is left waiting.
    void CheckHeldSendLeftNothing(std::size_t sent) {
        EXPECT_EQ(pair_.SendsWaiting(), 0u);
        EXPECT_EQ(pair_.SentMessages().size(), sent);
    }

private:
    midi::VirtualMidiBackend backend_;
    midi::VirtualPortPair& decoy_;
    midi::VirtualPortPair& pair_;
};

TQ5_DRIVER_CONTRACT(Virtual, VirtualLink);

}  // namespace
}  // namespace tq5::test
