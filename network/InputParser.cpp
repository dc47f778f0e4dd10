// Tokenizer and record driver of the input reader.
#include "network/InputParser.h"

#include <stdexcept>

namespace varnok {

void InputParser::load(const std::string& path, Network&, SolverParams&) {
    throw std::runtime_error("InputParser: cannot open file: " + path);
}

std::vector<InputParser::Record> InputParser::tokenize(const std::string&, std::vector<std::string>&) {
    return {};
}

void InputParser::translate(const std::vector<Record>&, Network&, SolverParams&) {}
void InputParser::translate_param(const Record&, SolverParams&) {}

}  // namespace varnok
