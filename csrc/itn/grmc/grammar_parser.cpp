#include "grammar_parser.h"

#include <cctype>
#include <fstream>
#include <sstream>

namespace TextPolishItn::grammar {
namespace {

struct Token {
  enum class Kind { kIdent, kString, kMarker, kWeight, kPunct, kEnd };
  Kind kind;
  std::string text;
  int line;
};

class Lexer {
 public:
  Lexer(std::string_view source, std::string file) : source_(source), file_(std::move(file)) {}

  std::vector<Token> Tokens() {
    std::vector<Token> tokens;
    for (SkipBlanks(); pos_ < source_.size(); SkipBlanks()) tokens.push_back(Next());
    tokens.push_back({Token::Kind::kEnd, "", line_});
    return tokens;
  }

  [[noreturn]] void Fail(const std::string& message) const {
    throw GrammarError(file_ + ":" + std::to_string(line_) + ": " + message);
  }

 private:
  void SkipBlanks() {
    while (pos_ < source_.size()) {
      const char c = source_[pos_];
      if (c == '#') {
        while (pos_ < source_.size() && source_[pos_] != '\n') ++pos_;
      } else if (std::isspace(static_cast<unsigned char>(c))) {
        if (c == '\n') ++line_;
        ++pos_;
      } else {
        return;
      }
    }
  }

  static bool IsNameChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
  }

  std::string Name() {
    const size_t start = pos_;
    while (pos_ < source_.size() && IsNameChar(source_[pos_])) ++pos_;
    if (start == pos_) Fail("name expected");
    return std::string(source_.substr(start, pos_ - start));
  }

  // Reads up to `close`, which is consumed.
  std::string Until(char close) {
    const size_t start = pos_;
    while (pos_ < source_.size() && source_[pos_] != close && source_[pos_] != '\n') ++pos_;
    if (pos_ >= source_.size() || source_[pos_] != close) Fail(std::string("missing '") + close + "'");
    return std::string(source_.substr(start, pos_++ - start));
  }

  std::string QuotedString() {
    std::string text;
    for (;;) {
      if (pos_ >= source_.size() || source_[pos_] == '\n') Fail("unterminated string");
      const char c = source_[pos_++];
      if (c == '"') return text;
      if (c != '\\') {
        text += c;
        continue;
      }
      if (pos_ >= source_.size()) Fail("unterminated string");
      const char escaped = source_[pos_++];
      switch (escaped) {
        case 'n': text += '\n'; break;
        case 't': text += '\t'; break;
        case 'r': text += '\r'; break;
        case '"': case '\\': text += escaped; break;
        default: Fail(std::string("unknown escape \\") + escaped);
      }
    }
  }

  Token Next() {
    const int line = line_;
    const char c = source_[pos_];
    if (c == '"') {
      ++pos_;
      return {Token::Kind::kString, QuotedString(), line};
    }
    if (c == '[') {
      ++pos_;
      std::string name = Name();
      if (pos_ >= source_.size() || source_[pos_++] != ']') Fail("missing ']' after marker name");
      return {Token::Kind::kMarker, std::move(name), line};
    }
    if (c == '<') {
      ++pos_;
      return {Token::Kind::kWeight, Until('>'), line};
    }
    if (IsNameChar(c)) return {Token::Kind::kIdent, Name(), line};
    if (std::string_view("=;|@-:*+?(),").find(c) != std::string_view::npos) {
      ++pos_;
      return {Token::Kind::kPunct, std::string(1, c), line};
    }
    Fail(std::string("unexpected character '") + c + "'");
  }

  std::string_view source_;
  std::string file_;
  size_t pos_ = 0;
  int line_ = 1;
};

class Parser {
 public:
  Parser(std::vector<Token> tokens, std::string file) : tokens_(std::move(tokens)), file_(std::move(file)) {}

  std::vector<Definition> Definitions() {
    std::vector<Definition> definitions;
    while (Peek().kind != Token::Kind::kEnd) definitions.push_back(ParseDefinition());
    return definitions;
  }

 private:
  using Kind = Node::Kind;

  const Token& Peek() const { return tokens_[pos_]; }
  // The final kEnd token is never passed.
  const Token& Take() {
    const Token& token = tokens_[pos_];
    if (token.kind != Token::Kind::kEnd) ++pos_;
    return token;
  }

  bool IsPunct(const char* text) const {
    return Peek().kind == Token::Kind::kPunct && Peek().text == text;
  }

  [[noreturn]] void Fail(const std::string& message) const {
    throw GrammarError(file_ + ":" + std::to_string(Peek().line) + ": " + message);
  }

  void Expect(const char* text) {
    if (!IsPunct(text)) Fail(std::string("'") + text + "' expected");
    Take();
  }

  std::unique_ptr<Node> Make(Kind kind, int line) {
    auto node = std::make_unique<Node>();
    node->kind = kind;
    node->line = line;
    return node;
  }

  std::unique_ptr<Node> Binary(Kind kind, std::unique_ptr<Node> left, std::unique_ptr<Node> right) {
    auto node = Make(kind, left->line);
    node->children.push_back(std::move(left));
    node->children.push_back(std::move(right));
    return node;
  }

  Definition ParseDefinition() {
    Definition definition;
    if (Peek().kind == Token::Kind::kIdent && Peek().text == "export") {
      Take();
      definition.exported = true;
    }
    if (Peek().kind != Token::Kind::kIdent) Fail("definition name expected");
    definition.line = Peek().line;
    definition.name = Take().text;
    Expect("=");
    definition.expression = ParseUnion();
    Expect(";");
    return definition;
  }

  std::unique_ptr<Node> ParseUnion() {
    auto node = ParseCompose();
    while (IsPunct("|")) {
      Take();
      node = Binary(Kind::kUnion, std::move(node), ParseCompose());
    }
    return node;
  }

  std::unique_ptr<Node> ParseCompose() {
    auto node = ParseDifference();
    while (IsPunct("@")) {
      Take();
      node = Binary(Kind::kCompose, std::move(node), ParseDifference());
    }
    return node;
  }

  std::unique_ptr<Node> ParseDifference() {
    auto node = ParseConcat();
    while (IsPunct("-")) {
      Take();
      node = Binary(Kind::kDifference, std::move(node), ParseConcat());
    }
    return node;
  }

  bool StartsAtom() const {
    const Token& token = Peek();
    return token.kind == Token::Kind::kString || token.kind == Token::Kind::kMarker ||
           (token.kind == Token::Kind::kIdent && token.text != "export") || IsPunct("(");
  }

  std::unique_ptr<Node> ParseConcat() {
    auto node = ParseCross();
    while (StartsAtom()) node = Binary(Kind::kConcat, std::move(node), ParseCross());
    return node;
  }

  std::unique_ptr<Node> ParseCross() {
    auto node = ParsePostfix();
    if (IsPunct(":")) {
      Take();
      node = Binary(Kind::kCross, std::move(node), ParsePostfix());
    }
    return node;
  }

  std::unique_ptr<Node> Wrap(Kind kind, std::unique_ptr<Node> child) {
    auto node = Make(kind, child->line);
    node->children.push_back(std::move(child));
    return node;
  }

  std::unique_ptr<Node> ParsePostfix() {
    auto node = ParseAtom();
    for (;;) {
      if (IsPunct("*")) {
        node = Wrap(Kind::kStar, std::move(node));
      } else if (IsPunct("+")) {
        node = Wrap(Kind::kPlus, std::move(node));
      } else if (IsPunct("?")) {
        node = Wrap(Kind::kOptional, std::move(node));
      } else if (Peek().kind == Token::Kind::kWeight) {
        node = Wrap(Kind::kWeight, std::move(node));
        node->weight = ParseWeight(Peek().text);
      } else {
        return node;
      }
      Take();
    }
  }

  double ParseWeight(const std::string& text) const {
    std::istringstream in(text);
    double weight = 0.0;
    if (!(in >> weight) || !(in >> std::ws).eof()) Fail("bad weight <" + text + ">");
    return weight;
  }

  std::unique_ptr<Node> ParseAtom() {
    const Token& token = Peek();
    const int line = token.line;
    if (token.kind == Token::Kind::kString || token.kind == Token::Kind::kMarker) {
      auto node = Make(token.kind == Token::Kind::kString ? Kind::kString : Kind::kMarker, line);
      node->text = Take().text;
      return node;
    }
    if (IsPunct("(")) {
      Take();
      auto node = ParseUnion();
      Expect(")");
      return node;
    }
    if (token.kind != Token::Kind::kIdent || token.text == "export") Fail("expression expected");
    std::string name = Take().text;
    if (!IsPunct("(")) {
      auto node = Make(Kind::kReference, line);
      node->text = std::move(name);
      return node;
    }
    return ParseCall(name, line);
  }

  std::unique_ptr<Node> ParseCall(const std::string& name, int line) {
    Take();  // (
    std::unique_ptr<Node> node;
    if (name == "string_file") {
      if (Peek().kind != Token::Kind::kString) Fail("string_file needs a quoted file name");
      node = Make(Kind::kStringFile, line);
      node->text = Take().text;
    } else if (name == "input" || name == "output") {
      node = Wrap(name == "input" ? Kind::kInput : Kind::kOutput, ParseUnion());
    } else {
      Fail("unknown function " + name);
    }
    Expect(")");
    return node;
  }

  std::vector<Token> tokens_;
  std::string file_;
  size_t pos_ = 0;
};

}  // namespace

Grammar ParseGrammar(std::string_view source, const std::filesystem::path& path) {
  Lexer lexer(source, path.string());
  Parser parser(lexer.Tokens(), path.string());
  return Grammar{path, parser.Definitions()};
}

Grammar ParseGrammarFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw GrammarError("cannot read " + path.string());
  std::ostringstream text;
  text << in.rdbuf();
  return ParseGrammar(text.str(), path);
}

}  // namespace TextPolishItn::grammar
