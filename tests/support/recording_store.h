#pragma once

// A settings store that notes every save as the event "save link" (the operations save
// nothing else) and hands it on to a real store when one is given.

#include "settings/settings_store.h"

#include <string>
#include <utility>
#include <vector>

namespace kt::test
{

class RecordingStore final : public settings::SettingsStore
{
public:
    explicit RecordingStore(std::vector<std::string> &events,
                            settings::SettingsStore *store = nullptr)
        : m_events(events)
        , m_store(store)
    {
    }

    std::optional<settings::KeyValues> load() override
    {
        return m_store ? m_store->load() : settings::KeyValues{};
    }
    settings::SaveResult save(const std::vector<std::pair<std::string, settings::Value>> &values) override
    {
        m_events.push_back("save link");
        return m_store ? m_store->save(values) : settings::SaveResult::ok();
    }

private:
    std::vector<std::string> &m_events;
    settings::SettingsStore *m_store;
};

} // namespace kt::test
