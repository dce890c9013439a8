#include "cli/WebPageSink.h"

#include "cli/CliError.h"
#include "cli/NoiseOptions.h"
#include "core/DecimoraError.h"

std::vector<CliOption> WithWebPageOptions(std::vector<CliOption> options)
{
    options.push_back({ .name = "serve",
        .description = "Serve a live web page at http://ADDR:PORT/ (ADDR 127.0.0.1 unless given; 0.0.0.0 or [::] "
                       "for every address): the level, the last hour and day, today's LAeq, LAmax, LA90, period "
                       "levels and events, updated with every reading; /figures.json has the same figures. Lines "
                       "are then written only with --output or --format.",
        .valueName = "[ADDR:]PORT" });
    options.push_back({ .name = "high-alarm",
        .description = "serve: above this level in dB the page shows the level in red (default 85).",
        .valueName = "DB",
        .defaultValue = "85",
        .within = "serve" });
    for (CliOption option : NoiseOptionTable()) {
        option.within = "serve";
        options.push_back(option);
    }
    return options;
}

std::optional<WebPageRequest> ReadWebPageRequest(const ParsedCommand& command, qint64 intervalMs)
{
    if (!command.isSet("serve")) {
        for (const CliOption& option : WithWebPageOptions({}))
            if (command.isSet(option.name))
                throw UsageError(QStringLiteral("--%1 belongs to --serve.").arg(QLatin1String(option.name)));
        return std::nullopt;
    }
    WebPageRequest request;
    try {
        request.address = ParseLiveWebAddress(command.value("serve"));
    } catch (const DecimoraError& error) {
        throw UsageError(error.text());
    }
    request.settings.highAlarm = HighAlarmOf(command);
    request.settings.noise = NoiseSettingsOf(command, request.settings.highAlarm);
    request.settings.intervalMs = intervalMs;
    return request;
}

WebPageSink::WebPageSink(const WebPageRequest& request, const std::function<void(const QString&)>& note)
    : server_(request.settings)
{
    const QString url = LiveWebUrl(request.address);
    const QString problem = server_.listen(request.address);
    if (!problem.isEmpty())
        throw CliError(QStringLiteral("Cannot serve the live page at %1: %2.").arg(url, problem));
    const QHostAddress& host = request.address.host;
    const bool everyAddress
        = host == QHostAddress::AnyIPv4 || host == QHostAddress::AnyIPv6 || host == QHostAddress::Any;
    if (ReachableFromNetwork(request.address))
        note(QStringLiteral("The live page is at %1 and can be reached from the network: anyone who reaches %2 on "
                            "port %3 can watch the readings.")
                 .arg(url, everyAddress ? QStringLiteral("this machine") : host.toString())
                 .arg(request.address.port));
    else
        note(QStringLiteral("The live page is at %1 (this machine only).").arg(url));
}

void WebPageSink::take(const LiveReading& reading)
{
    server_.take(reading);
}

void WebPageSink::finish()
{
    server_.closeAll();
}
