#pragma once

#include <QColor>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QVector>

#include <functional>

class QAbstractItemModel;
class QWidget;

// Answers the modal windows that a test provokes, one step per appearance of a modal window,
// in order. A step is for a message box or for any other dialog; it waits for a modal window
// of its kind. A modal window that no step wants (none left, or of the wrong kind for a while)
// is closed and recorded, so that a test fails instead of hanging in a nested event loop. Of
// several scripts alive at once, only the newest one acts.
class ModalScript
{
public:
    using Step = std::function<void(QWidget *modal)>;

    struct Warning
    {
        QString title;
        QString text;
        QWidget *parent = nullptr;
        int buttons = 0; // the box's standard buttons
    };

    ModalScript();
    ~ModalScript();
    ModalScript(const ModalScript &) = delete;
    ModalScript &operator=(const ModalScript &) = delete;

    // A step for a dialog that is not a message box.
    ModalScript &then(const Step &step);
    // A step for a message box: records it in warnings(), runs before (if given) and presses
    // the box's OK button.
    ModalScript &thenAcceptWarning(const Step &before = Step());

    bool finished() const { return m_steps.isEmpty(); }
    const QVector<Warning> &warnings() const { return m_warnings; }
    const QStringList &unexpected() const { return m_unexpected; }

private:
    void schedulePoll();
    void poll();

    struct Pending
    {
        bool messageBox;
        Step step;
    };

    void closeUnwanted(QWidget *modal);

    QObject m_context;
    QList<Pending> m_steps;
    QPointer<QWidget> m_waiting; // a modal window of the wrong kind for the next step
    int m_waitedPolls = 0;
    QPointer<QWidget> m_last;
    QVector<Warning> m_warnings;
    QStringList m_unexpected;
};

// Records every state that the cells of one column pass through, so that tests can see the
// progress cells of a run and the blank cells written at its start.
class ColumnRecorder
{
public:
    struct Entry
    {
        int row;
        QString text;
        QColor color; // invalid when no foreground is set
        bool operator==(const Entry &other) const
        {
            return row == other.row && text == other.text && color == other.color;
        }
    };

    ColumnRecorder(QAbstractItemModel *model, int column);
    ~ColumnRecorder();

    // The states of one row, consecutive repeats folded.
    QVector<Entry> history(int row) const;
    // The texts of every row of the column, taken whenever a cell of row became text.
    QStringList snapshotWhen(int row, const QString &text) const;
    void clear();

private:
    QAbstractItemModel *m_model;
    int m_column;
    QVector<Entry> m_entries;
    QVector<QPair<Entry, QStringList>> m_snapshots;
    QMetaObject::Connection m_connection;
};

// The colour of a cell's foreground brush, or an invalid colour when none is set.
QColor cellColor(QAbstractItemModel *model, int row, int column);
