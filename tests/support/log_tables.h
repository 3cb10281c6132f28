// Holding recorded calls against expected tables, printing both side by
// side when they differ.
#ifndef VELLOMIRE_TESTS_LOG_TABLES_H
#define VELLOMIRE_TESTS_LOG_TABLES_H

#include "simctl.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vtest {

// The program's platform calls from the log entry at index `from` on, as
// "Name" or, when withArguments, the full text.
std::vector<std::string> CallsSince(size_t from, bool withArguments = false);
// The same without the calls named in skip.
std::vector<std::string> CallsSinceExcept(size_t from, const std::vector<std::string> &skip);
// Index of the log's end, to take a slice later.
inline size_t LogMark() { return sim::Log().size(); }

// Expected equals actual; on failure both lists are printed side by side.
::testing::AssertionResult SameSequence(const std::vector<std::string> &expected,
                                        const std::vector<std::string> &actual);
// Every entry of expected appears in actual, in this order.
::testing::AssertionResult InOrder(const std::vector<std::string> &expected,
                                   const std::vector<std::string> &actual);

// Whether a logged PostMessageA call posted WM_CLOSE.
bool PostsClose(const std::vector<std::string> &arguments);
// WM_CLOSE requests posted since the log entry at index from.
int ClosesPostedSince(size_t from);

}  // namespace vtest

#endif
