#include "midi/drivers/virtual/virtual_backend.hpp"

#include "midi/drivers/virtual/virtual_input.hpp"
#include "midi/drivers/virtual/virtual_output.hpp"
#include "midi/drivers/virtual/virtual_pair_list.hpp"

namespace tq5::midi {

VirtualMidiBackend::VirtualMidiBackend() : pairs_(std::make_shared<detail::VirtualPairList>()) {}

VirtualMidiBackend::~VirtualMidiBackend() = default;

VirtualPortPair& VirtualMidiBackend::AddPair(std::string inputName, std::string outputName) {
    return pairs_->Add(std::move(inputName), std::move(outputName));
}

VirtualPortPair* VirtualMidiBackend::Pair(std::size_t index) {
    if (index >= pairs_->Count()) return nullptr;
    return pairs_->At(static_cast<std::int32_t>(index)).get();
}

std::size_t VirtualMidiBackend::PairCount() const { return pairs_->Count(); }

std::unique_ptr<InputDriver> VirtualMidiBackend::CreateInput() {
    return CreateVirtualInput(pairs_);
}

std::unique_ptr<OutputDriver> VirtualMidiBackend::CreateOutput() {
    return CreateVirtualOutput(pairs_);
}

}  // namespace tq5::midi
