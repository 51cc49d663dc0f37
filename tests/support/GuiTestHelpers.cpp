#include "support/GuiTestHelpers.h"

#include <QAbstractButton>
#include <QAbstractItemModel>
#include <QApplication>
#include <QBrush>
#include <QDialog>
#include <QMessageBox>
#include <QTimer>
#include <QtTest>

namespace {
const int kPollMs = 5;
const int kWrongKindPolls = 400; // about two seconds

QList<ModalScript *> &liveScripts()
{
    static QList<ModalScript *> scripts;
    return scripts;
}
} // namespace

ModalScript::ModalScript()
{
    liveScripts().append(this);
    schedulePoll();
}

ModalScript::~ModalScript()
{
    liveScripts().removeOne(this);
}

ModalScript &ModalScript::then(const Step &step)
{
    m_steps.append({false, step});
    return *this;
}

ModalScript &ModalScript::thenAcceptWarning(const Step &before)
{
    const Step step = [this, before](QWidget *modal) {
        auto *box = qobject_cast<QMessageBox *>(modal);
        m_warnings.append(
            {box->windowTitle(), box->text(), box->parentWidget(), int(box->standardButtons())});
        if (before)
            before(modal);
        QAbstractButton *ok = box->button(QMessageBox::Ok);
        if (ok)
            QTest::mouseClick(ok, Qt::LeftButton);
        else
            box->reject();
    };
    m_steps.append({true, step});
    return *this;
}

void ModalScript::schedulePoll()
{
    QTimer::singleShot(kPollMs, &m_context, [this] { poll(); });
}

void ModalScript::poll()
{
    QWidget *modal = QApplication::activeModalWidget();
    if (liveScripts().last() != this || !modal || modal == m_last || !modal->isVisible()) {
        schedulePoll();
        return;
    }
    if (m_steps.isEmpty()) {
        m_last = modal;
        schedulePoll();
        closeUnwanted(modal);
        return;
    }
    const bool isMessageBox = qobject_cast<QMessageBox *>(modal) != nullptr;
    if (isMessageBox != m_steps.first().messageBox) {
        // Perhaps the window the step waits for is about to open above this one.
        if (m_waiting != modal) {
            m_waiting = modal;
            m_waitedPolls = 0;
        }
        schedulePoll();
        if (++m_waitedPolls >= kWrongKindPolls) {
            m_last = modal;
            closeUnwanted(modal);
        }
        return;
    }
    m_last = modal;
    // The next poll is queued first: the step may open a nested event loop of its own.
    schedulePoll();
    const Step step = m_steps.takeFirst().step;
    const QPointer<QWidget> guard(modal);
    step(modal);
    // A step that failed half-way leaves its window open; close it so the test can end.
    if (QTest::currentTestFailed() && guard && guard->isVisible()) {
        if (auto *dialog = qobject_cast<QDialog *>(guard.data()))
            dialog->reject();
        else
            guard->close();
    }
}

void ModalScript::closeUnwanted(QWidget *modal)
{
    QString text = QString::fromLatin1(modal->metaObject()->className()) + QLatin1Char('|') +
                   modal->windowTitle();
    if (auto *box = qobject_cast<QMessageBox *>(modal))
        text += QLatin1Char('|') + box->text();
    m_unexpected << text;
    if (auto *dialog = qobject_cast<QDialog *>(modal))
        dialog->reject();
    else
        modal->close();
}

ColumnRecorder::ColumnRecorder(QAbstractItemModel *model, int column)
    : m_model(model), m_column(column)
{
    const auto record = [this](const QModelIndex &topLeft, const QModelIndex &bottomRight) {
        if (m_column < topLeft.column() || m_column > bottomRight.column())
            return;
        for (int row = topLeft.row(); row <= bottomRight.row(); ++row) {
            const Entry entry{row, m_model->index(row, m_column).data().toString(),
                              cellColor(m_model, row, m_column)};
            m_entries.append(entry);
            QStringList texts;
            for (int r = 0; r < m_model->rowCount(); ++r)
                texts << m_model->index(r, m_column).data().toString();
            m_snapshots.append({entry, texts});
        }
    };
    m_connection = QObject::connect(model, &QAbstractItemModel::dataChanged, record);
}

ColumnRecorder::~ColumnRecorder()
{
    QObject::disconnect(m_connection);
}

QVector<ColumnRecorder::Entry> ColumnRecorder::history(int row) const
{
    QVector<Entry> states;
    for (const Entry &entry : m_entries) {
        if (entry.row != row)
            continue;
        // A cell is written in steps (item, alignment, colour); keep the last state of a text.
        if (!states.isEmpty() && states.last().text == entry.text)
            states.last() = entry;
        else
            states.append(entry);
    }
    return states;
}

QStringList ColumnRecorder::snapshotWhen(int row, const QString &text) const
{
    for (const auto &snapshot : m_snapshots) {
        if (snapshot.first.row == row && snapshot.first.text == text)
            return snapshot.second;
    }
    return QStringList();
}

void ColumnRecorder::clear()
{
    m_entries.clear();
    m_snapshots.clear();
}

QColor cellColor(QAbstractItemModel *model, int row, int column)
{
    const QVariant value = model->index(row, column).data(Qt::ForegroundRole);
    if (!value.isValid())
        return QColor();
    return value.value<QBrush>().color();
}
