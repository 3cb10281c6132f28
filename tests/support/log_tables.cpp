// Holding recorded calls against expected tables.
#include "log_tables.h"

#include "saver_process.h"

#include <algorithm>
#include <sstream>

namespace vtest {

std::vector<std::string> CallsSince(size_t from, bool withArguments)
{
    std::vector<std::string> calls;
    const std::vector<sim::Event> &log = sim::Log();
    for (size_t i = from; i < log.size(); ++i)
        if (log[i].kind == sim::EventKind::Call)
            calls.push_back(withArguments ? log[i].text : log[i].function);
    return calls;
}

std::vector<std::string> CallsSinceExcept(size_t from, const std::vector<std::string> &skip)
{
    std::vector<std::string> calls;
    for (const std::string &call : CallsSince(from))
        if (std::find(skip.begin(), skip.end(), call) == skip.end())
            calls.push_back(call);
    return calls;
}

static std::string SideBySide(const std::vector<std::string> &expected,
                              const std::vector<std::string> &actual)
{
    std::ostringstream out;
    out << "\n  #   expected                              actual\n";
    size_t rows = std::max(expected.size(), actual.size());
    for (size_t i = 0; i < rows; ++i) {
        std::string e = i < expected.size() ? expected[i] : "-";
        std::string a = i < actual.size() ? actual[i] : "-";
        out << (e == a ? "    " : "  * ") << i << "  " << e
            << std::string(e.size() < 38 ? 38 - e.size() : 1, ' ') << a << "\n";
    }
    return out.str();
}

::testing::AssertionResult SameSequence(const std::vector<std::string> &expected,
                                        const std::vector<std::string> &actual)
{
    if (expected == actual)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << SideBySide(expected, actual);
}

::testing::AssertionResult InOrder(const std::vector<std::string> &expected,
                                   const std::vector<std::string> &actual)
{
    size_t at = 0;
    for (const std::string &call : actual)
        if (at < expected.size() && call == expected[at])
            ++at;
    if (at == expected.size())
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "missing from position " << at << " (" << expected[at] << ")"
           << SideBySide(expected, actual);
}

bool PostsClose(const std::vector<std::string> &arguments)
{
    if (arguments.size() < 2)
        return false;
    const std::string &message = arguments[1];
    return message == "WM_CLOSE" || message == "16" || message == "0x10" || message == "0x0010";
}

int ClosesPostedSince(size_t from)
{
    int closes = 0;
    const std::vector<sim::Event> &log = sim::Log();
    for (size_t i = from; i < log.size(); ++i) {
        if (log[i].kind != sim::EventKind::Call || log[i].function != "PostMessageA")
            continue;
        std::vector<std::string> args;
        std::string text = log[i].text;
        size_t open = text.find('('), close = text.rfind(')');
        if (open == std::string::npos || close == std::string::npos)
            continue;
        std::stringstream list(text.substr(open + 1, close - open - 1));
        std::string item;
        while (std::getline(list, item, ','))
            args.push_back(item.substr(item.find_first_not_of(' ') == std::string::npos
                                           ? 0
                                           : item.find_first_not_of(' ')));
        if (PostsClose(args))
            ++closes;
    }
    return closes;
}

}  // namespace vtest
