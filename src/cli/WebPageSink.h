#pragma once

// The live page of "decimora-cli live --serve [ADDR:]PORT": its options, and the sink that hands every
// reading to the page's server (liveweb/LiveWebServer.h).

#include "cli/CliOptions.h"
#include "cli/LiveOutput.h"
#include "liveweb/LiveWebServer.h"

#include <functional>
#include <optional>
#include <vector>

// live's options with those of the page after them: --serve, --high-alarm and the noise assessment's
// (--threshold, --bounds, ...), which belong to --serve.
std::vector<CliOption> WithWebPageOptions(std::vector<CliOption> options);

struct WebPageRequest {
    LiveWebAddress address;
    LiveWebSettings settings;
};

// What --serve and the options that belong to it ask for; nothing without --serve. Throws UsageError.
std::optional<WebPageRequest> ReadWebPageRequest(const ParsedCommand& command, qint64 intervalMs);

class WebPageSink final : public LiveReadingSink {
public:
    // Starts serving, and says where on standard error through note (and that the page can be reached
    // from the network, where it can). Throws CliError when the address cannot be served (a port in
    // use, an address this machine does not have).
    WebPageSink(const WebPageRequest& request, const std::function<void(const QString&)>& note);

    void take(const LiveReading& reading) override;
    void finish() override;

    const LiveWebServer& server() const { return server_; }

private:
    LiveWebServer server_;
};
