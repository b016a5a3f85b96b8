// Reads a JSON document from standard input and prints the value at each JSON pointer given
// (a string without its quotes), so the shell test needs no JSON tool of the host. Exits 1
// when the input is not one JSON document or a pointer leads nowhere.
#include <iostream>

#include <nlohmann/json.hpp>

int main(int argc, char** argv) {
  nlohmann::json document;
  try {
    document = nlohmann::json::parse(std::cin);
    for (int i = 1; i < argc; ++i) {
      const nlohmann::json& value = document.at(nlohmann::json::json_pointer(argv[i]));
      std::cout << (value.is_string() ? value.get<std::string>() : value.dump()) << "\n";
    }
  } catch (const nlohmann::json::exception& error) {
    std::cerr << "json_probe: " << error.what() << "\n";
    return 1;
  }
  return 0;
}
