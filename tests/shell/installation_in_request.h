// The shortcut code replaces or deletes only shortcuts into the installation the request names.
// Tests that call it directly name theirs here, for as long as the object lives.
#pragma once

#include "launcher_link/process_state.h"

#include <string>

namespace tendril::test {

class InstallationInRequest {
public:
    explicit InstallationInRequest(const std::wstring& folder) : saved_(assistantRequest) {
        assistantRequest = AssistantRequest{};
        folder.copy(assistantRequest.installFolder, std::size(assistantRequest.installFolder) - 1);
    }
    ~InstallationInRequest() { assistantRequest = saved_; }
    InstallationInRequest(const InstallationInRequest&) = delete;
    InstallationInRequest& operator=(const InstallationInRequest&) = delete;

private:
    AssistantRequest saved_;
};

}  // namespace tendril::test
