#include "virtualdrive/core/VirtualBus.h"

#include <utility>

VirtualDrive* VirtualBus::addDrive(VirtualDriveConfig config)
{
    const bool hasLetter = config.letter >= 'A' && config.letter <= 'Z';
    if (!hasLetter && config.letter != 0) return nullptr;
    if (!hasLetter && !config.onAspi) return nullptr;
    if (hasLetter && driveAtLetter(config.letter) != nullptr) return nullptr;
    if (config.onAspi && driveAt(config.adapter, config.target) != nullptr) return nullptr;
    if (config.onAspi && adapters_.find(config.adapter) == adapters_.end())
        adapters_[config.adapter] = VirtualAdapter{};
    Slot slot{nullptr, config.letter, config.onAspi, config.adapter, config.target};
    slot.drive = std::make_unique<VirtualDrive>(std::move(config));
    if (sink_) slot.drive->setLatencySink(sink_);
    drives_.push_back(std::move(slot));
    return drives_.back().drive.get();
}

void VirtualBus::setAdapter(uint8_t number, VirtualAdapter adapter)
{
    adapters_[number] = adapter;
}

VirtualDrive* VirtualBus::driveAtLetter(char letter) const
{
    if (letter >= 'a' && letter <= 'z') letter = static_cast<char>(letter - 'a' + 'A');
    if (letter < 'A' || letter > 'Z') return nullptr;
    for (const auto& slot : drives_) {
        if (slot.letter == letter) return slot.drive.get();
    }
    return nullptr;
}

VirtualDrive* VirtualBus::driveAt(uint8_t adapter, uint8_t target) const
{
    for (const auto& slot : drives_) {
        if (slot.onAspi && slot.adapter == adapter && slot.target == target)
            return slot.drive.get();
    }
    return nullptr;
}

std::vector<VirtualDrive*> VirtualBus::drives() const
{
    std::vector<VirtualDrive*> all;
    for (const auto& slot : drives_)
        all.push_back(slot.drive.get());
    return all;
}

std::optional<VirtualAdapter> VirtualBus::adapter(uint8_t number) const
{
    const auto found = adapters_.find(number);
    if (found == adapters_.end()) return std::nullopt;
    return found->second;
}

unsigned VirtualBus::adapterCount() const
{
    return adapters_.empty() ? 0u : unsigned{adapters_.rbegin()->first} + 1;
}

void VirtualBus::setLatencySink(VirtualDrive::LatencySink sink)
{
    sink_ = std::move(sink);
    for (const auto& slot : drives_)
        slot.drive->setLatencySink(sink_);
}
