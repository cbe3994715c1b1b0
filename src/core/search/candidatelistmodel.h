#pragma once

#include "core/library/papermetadata.h"

#include <QAbstractTableModel>
#include <QHash>
#include <QList>
#include <functional>

// One paper taken from a result page and waiting to be handed over to the download list.
struct CandidateRow
{
    QString key;      // the paper's file address (link address + ".pdf"), unique in the list
    QString title;    // the link text exactly as the page gave it
    QString type;     // expected file type, "pdf"
    QString status;   // empty, "成功" or "分析失败"
    QString folder;   // save folder the row was taken with; may be empty
    QString tag;      // address of the result page the link came from
    PaperCells cells; // the other cells of the paper's row on the result page

    PaperMetadata metadata() const { return PaperMetadata{title, cells}; }
};

namespace candidatetext {
inline const QString Succeeded = QStringLiteral("成功");
inline const QString Failed = QStringLiteral("分析失败");
} // namespace candidatetext

// The candidate list ListView1. Rows are addressed by position (0-based); titles are not editable.
class CandidateListModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    // The four columns of the list, then what the result page told about the paper.
    enum Column { ColTitle, ColType, ColStatus, ColFolder, ColAuthors, ColYear, ColumnCount };
    enum Role { KeyRole = Qt::UserRole + 1, TagRole };

    explicit CandidateListModel(QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

    int count() const { return static_cast<int>(m_rows.size()); }
    bool isValidRow(int position) const { return position >= 0 && position < count(); }
    const CandidateRow &row(int position) const { return m_rows.at(position); }
    bool containsKey(const QString &key) const { return m_keys.contains(key); }

    // Adds a row; a key already listed keeps its first row untouched. True when the row was added.
    bool 加入LV1(const QString &title, const QString &key, const QString &tag, const QString &type,
                 const QString &saveFolder, const PaperCells &cells = {});
    void setStatus(int position, const QString &status);
    // Walks from the first row; a removed row's successor is examined next. Returns the number removed.
    int removeRowsIf(const std::function<bool(int position, const CandidateRow &)> &match);
    void clear();

    static QString headerText(int column);

private:
    QList<CandidateRow> m_rows;
    QHash<QString, bool> m_keys;
};
