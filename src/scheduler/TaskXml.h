#pragma once

// A small element tree for task definitions in the Task Scheduler's XML. It
// keeps every element it does not know, with its attributes, so that a
// definition read from another scheduler's export is written back whole.

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

namespace ardanto::scheduler {

class TXmlNode {
public:
  explicit TXmlNode(QString name) : Name(std::move(name)) {}

  QString Name;
  QList<QPair<QString, QString>> Attributes; // in document order
  QString Text;                              // leaf elements only
  std::vector<std::shared_ptr<TXmlNode>> Children;

  std::shared_ptr<TXmlNode> Child(const QString& name) const;
  std::vector<std::shared_ptr<TXmlNode>> ChildrenNamed(const QString& name) const;
  // The child, created when missing. New children go before the first
  // sibling that order lists after them, so written files keep the order
  // the scheduler's own exports have; names order does not list go last.
  std::shared_ptr<TXmlNode> EnsureChild(const QString& name, const QStringList& order = {});
  void RemoveChildren(const QString& name);

  QString Attribute(const QString& name) const;
  void SetAttribute(const QString& name, const QString& value);

  std::shared_ptr<TXmlNode> Clone() const;
};

// Parses one document; false with a message naming line and column for
// anything that is not well-formed XML or has no root element.
bool ParseXml(const QString& text, std::shared_ptr<TXmlNode>& root, QString& error);
// Reads bytes as they are stored in a file: the encoding comes from the
// byte-order mark or the declaration, as the scheduler's UTF-16 exports need.
bool ParseXml(const QByteArray& bytes, std::shared_ptr<TXmlNode>& root, QString& error);
// The document with a declaration naming the given encoding, indented.
QString WriteXml(const TXmlNode& root, const QString& encoding = QStringLiteral("UTF-16"));

} // namespace ardanto::scheduler
