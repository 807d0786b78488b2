#include "scheduler/TaskXml.h"

#include "common/Translate.h"

#include <QRegularExpression>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

namespace ardanto::scheduler {

using namespace Qt::StringLiterals;

std::shared_ptr<TXmlNode> TXmlNode::Child(const QString& name) const
{
  for (const auto& child : Children)
    if (child->Name == name)
      return child;
  return nullptr;
}

std::vector<std::shared_ptr<TXmlNode>> TXmlNode::ChildrenNamed(const QString& name) const
{
  std::vector<std::shared_ptr<TXmlNode>> found;
  for (const auto& child : Children)
    if (child->Name == name)
      found.push_back(child);
  return found;
}

std::shared_ptr<TXmlNode> TXmlNode::EnsureChild(const QString& name, const QStringList& order)
{
  if (auto existing = Child(name))
    return existing;
  auto child = std::make_shared<TXmlNode>(name);
  const qsizetype rank = order.indexOf(name);
  auto at = Children.end();
  if (rank >= 0) {
    for (auto it = Children.begin(); it != Children.end(); ++it) {
      const qsizetype other = order.indexOf((*it)->Name);
      if (other > rank) {
        at = it;
        break;
      }
    }
  }
  Children.insert(at, child);
  return child;
}

void TXmlNode::RemoveChildren(const QString& name)
{
  std::erase_if(Children, [&](const auto& child) { return child->Name == name; });
}

QString TXmlNode::Attribute(const QString& name) const
{
  for (const auto& attribute : Attributes)
    if (attribute.first == name)
      return attribute.second;
  return {};
}

void TXmlNode::SetAttribute(const QString& name, const QString& value)
{
  for (auto& attribute : Attributes) {
    if (attribute.first == name) {
      attribute.second = value;
      return;
    }
  }
  Attributes.append({name, value});
}

std::shared_ptr<TXmlNode> TXmlNode::Clone() const
{
  auto copy = std::make_shared<TXmlNode>(Name);
  copy->Attributes = Attributes;
  copy->Text = Text;
  for (const auto& child : Children)
    copy->Children.push_back(child->Clone());
  return copy;
}

namespace {

bool ReadDocument(QXmlStreamReader& reader, std::shared_ptr<TXmlNode>& root, QString& error)
{
  // Namespaces stay plain attributes, so the scheduler's xmlns is written back as it came.
  reader.setNamespaceProcessing(false);
  std::vector<std::shared_ptr<TXmlNode>> open;
  std::shared_ptr<TXmlNode> top;
  while (!reader.atEnd()) {
    switch (reader.readNext()) {
    case QXmlStreamReader::StartElement: {
      auto node = std::make_shared<TXmlNode>(reader.qualifiedName().toString());
      for (const QXmlStreamAttribute& attribute : reader.attributes())
        node->Attributes.append({attribute.qualifiedName().toString(), attribute.value().toString()});
      if (open.empty())
        top = node;
      else
        open.back()->Children.push_back(node);
      open.push_back(node);
      break;
    }
    case QXmlStreamReader::EndElement:
      if (!open.empty())
        open.pop_back();
      break;
    case QXmlStreamReader::Characters:
      if (!open.empty() && !reader.isWhitespace())
        open.back()->Text += reader.text();
      break;
    default:
      break;
    }
  }
  if (reader.hasError()) {
    error = _("The task definition is not valid XML (line %1, column %2): %3")
                .arg(reader.lineNumber())
                .arg(reader.columnNumber())
                .arg(reader.errorString());
    return false;
  }
  if (!top) {
    error = _("The task definition is empty");
    return false;
  }
  root = top;
  return true;
}

void WriteNode(QXmlStreamWriter& writer, const TXmlNode& node)
{
  writer.writeStartElement(node.Name);
  for (const auto& attribute : node.Attributes)
    writer.writeAttribute(attribute.first, attribute.second);
  if (node.Children.empty()) {
    if (!node.Text.isEmpty())
      writer.writeCharacters(node.Text);
  } else {
    for (const auto& child : node.Children)
      WriteNode(writer, *child);
  }
  writer.writeEndElement();
}

} // namespace

bool ParseXml(const QString& text, std::shared_ptr<TXmlNode>& root, QString& error)
{
  // Text in memory has no encoding any more; a declaration of UTF-16 (as the
  // scheduler writes) would only mislead the reader.
  static const QRegularExpression declaration(u"^\\s*<\\?xml[^?]*\\?>"_s);
  QString body = text;
  body.remove(declaration);
  QXmlStreamReader reader(body);
  return ReadDocument(reader, root, error);
}

bool ParseXml(const QByteArray& bytes, std::shared_ptr<TXmlNode>& root, QString& error)
{
  QXmlStreamReader reader(bytes);
  return ReadDocument(reader, root, error);
}

QString WriteXml(const TXmlNode& root, const QString& encoding)
{
  QString text;
  QXmlStreamWriter writer(&text);
  writer.setAutoFormatting(true);
  writer.setAutoFormattingIndent(2);
  writer.writeStartDocument();
  WriteNode(writer, root);
  writer.writeEndDocument();
  // The writer declares no encoding for text; name the one the text is stored in.
  const qsizetype end = text.indexOf(u"?>");
  if (text.startsWith(u"<?xml") && end > 0)
    text.replace(0, end + 2, u"<?xml version=\"1.0\" encoding=\""_s + encoding + u"\"?>"_s);
  return text;
}

} // namespace ardanto::scheduler
