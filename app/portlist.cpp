#include "app/portlist.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPointer>
#include <QStandardItemModel>
#include <QTimer>

namespace PortList {

namespace {

// Lives on the list: its last listing, and the filter that lists again when it is opened.
class State : public QObject
{
public:
    explicit State(QComboBox *list)
        : QObject(list)
        , m_list(list)
    {
        setObjectName(QStringLiteral("kavoPortListState"));
    }

    static State *of(const QComboBox *list) { return list->findChild<State *>(QStringLiteral("kavoPortListState"), Qt::FindDirectChildrenOnly); }

    PortListing::Listing listing;
    std::function<bool()> mayList;
    std::function<void(const QString &)> tell;
    bool filtering = false;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == m_list && opensPopup(event) && m_list->isEnabled() && !m_list->view()->isVisible()
            && (!mayList || mayList()))
            listAgain();
        return QObject::eventFilter(watched, event);
    }

private:
    // The events that make a closed, read-only combo box show its list.
    static bool opensPopup(QEvent *event)
    {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick:
            return static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton;
        case QEvent::KeyPress: {
            const auto *key = static_cast<QKeyEvent *>(event);
            const Qt::KeyboardModifiers mods = key->modifiers() & ~Qt::KeypadModifier;
            switch (key->key()) {
            case Qt::Key_F4:
                return mods == Qt::NoModifier;
            case Qt::Key_Up:
            case Qt::Key_Down:
                return mods & Qt::AltModifier;
            case Qt::Key_Space:
            case Qt::Key_Select:
                return true;
            default:
                return false;
            }
        }
        default:
            return false;
        }
    }

    void listAgain()
    {
        QString notice;
        fill(m_list, &notice);
        if (notice.isEmpty() || !tell)
            return;
        // Told once the list is open: the status line lets pending events run.
        QPointer<QComboBox> list = m_list;
        QTimer::singleShot(0, m_list, [list, notice] {
            if (State *state = list ? State::of(list) : nullptr; state && state->tell)
                state->tell(notice);
        });
    }

    QComboBox *m_list;
};

State *stateOf(QComboBox *list)
{
    State *state = State::of(list);
    return state ? state : new State(list);
}

QString toolTip(const PortListing::Entry &entry)
{
    if (!entry.usable)
        return entry.problem;
    if (entry.port.viaLink)
        return QStringLiteral("%1 (through the link %2)").arg(entry.port.device, entry.port.path);
    return entry.port.device;
}

} // namespace

PortListing::Listing fill(QComboBox *list, QString *notice, PortListing::Check check)
{
    const QString chosen = list->currentIndex() >= 0 ? list->currentText() : QString();
    const QString chosenDevice = list->currentIndex() >= 0 ? list->currentData(DeviceRole).toString() : QString();

    PortListing::Listing listing = PortListing::list(check);
    list->clear();
    auto *model = qobject_cast<QStandardItemModel *>(list->model());
    for (const PortListing::Entry &entry : std::as_const(listing.entries)) {
        list->addItem(entry.name());
        const int i = list->count() - 1;
        list->setItemData(i, entry.port.device, DeviceRole);
        list->setItemData(i, toolTip(entry), Qt::ToolTipRole);
        if (!entry.usable && model)
            if (QStandardItem *item = model->item(i))
                item->setFlags(item->flags() & ~(Qt::ItemIsEnabled | Qt::ItemIsSelectable));
    }

    QStringList told;
    int keep = -1;
    if (!chosen.isEmpty()) {
        const int i = list->findText(chosen);
        if (i >= 0 && list->itemData(i, DeviceRole).toString() == chosenDevice)
            keep = i;
        else if (i >= 0)
            told << QStringLiteral("%1 now names %2, not %3: choose it again to use it.")
                        .arg(chosen, list->itemData(i, DeviceRole).toString(), chosenDevice);
        else
            told << QStringLiteral("%1 (%2) is gone.").arg(chosen, chosenDevice);
    }
    list->setCurrentIndex(keep);
    if (listing.entries.isEmpty())
        told << QStringLiteral("No COM port names a device now.");
    if (!listing.folderMessage.isEmpty())
        told << listing.folderMessage;

    stateOf(list)->listing = listing;
    if (notice)
        *notice = told.join(QLatin1Char(' '));
    return listing;
}

void listOnOpen(QComboBox *list, std::function<bool()> mayList, std::function<void(const QString &)> tell)
{
    State *state = stateOf(list);
    state->mayList = std::move(mayList);
    state->tell = std::move(tell);
    if (!state->filtering) {
        list->installEventFilter(state);
        state->filtering = true;
    }
}

ComPorts::Port chosenPort(const QComboBox *list)
{
    if (list->currentIndex() < 0)
        return ComPorts::Port();
    const QString name = list->currentText();
    for (const PortListing::Entry &entry : lastListing(list).entries)
        if (entry.name() == name)
            return entry.port;
    return ComPorts::Port();
}

PortListing::Listing lastListing(const QComboBox *list)
{
    const State *state = State::of(list);
    return state ? state->listing : PortListing::Listing();
}

QString noPortsText(const PortListing::Listing &listing)
{
    QStringList lines{QStringLiteral("There are no available comm ports on this computer.")};
    for (const PortListing::Entry &entry : listing.unusable())
        lines << entry.problem;
    if (!listing.folderMessage.isEmpty())
        lines << listing.folderMessage;
    return lines.join(QStringLiteral("\r\n"));
}

} // namespace PortList
