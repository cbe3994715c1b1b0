#include "ui/messagebar.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QToolButton>

namespace {

struct KindLook
{
    QStyle::StandardPixmap icon;
    QColor background;
    QColor border;
};

KindLook lookOf(MessageBar::Kind kind)
{
    switch (kind) {
    case MessageBar::Kind::Success:
        return {QStyle::SP_DialogApplyButton, QColor(226, 244, 226), QColor(120, 180, 120)};
    case MessageBar::Kind::Warning:
        return {QStyle::SP_MessageBoxWarning, QColor(255, 243, 205), QColor(214, 170, 60)};
    case MessageBar::Kind::Information:
        break;
    }
    return {QStyle::SP_MessageBoxInformation, QColor(222, 234, 250), QColor(120, 150, 200)};
}

} // namespace

MessageBar::MessageBar(QWidget *parent) : QFrame(parent)
{
    setObjectName(QStringLiteral("MessageBar"));
    setFrameShape(QFrame::Box);
    setAutoFillBackground(true);
    m_icon = new QLabel(this);
    m_icon->setObjectName(QStringLiteral("MessageIcon"));
    m_text = new QLabel(this);
    m_text->setObjectName(QStringLiteral("MessageText"));
    m_text->setWordWrap(true);
    m_text->setTextFormat(Qt::PlainText);
    m_text->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_text->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    m_action = new QPushButton(this);
    m_action->setObjectName(QStringLiteral("MessageAction"));
    m_action->hide();
    m_close = new QToolButton(this);
    m_close->setObjectName(QStringLiteral("MessageClose"));
    m_close->setAutoRaise(true);
    m_close->setIcon(style()->standardIcon(QStyle::SP_TitleBarCloseButton));
    m_close->setToolTip(QStringLiteral("关闭"));
    connect(m_close, &QToolButton::clicked, this, &MessageBar::clearMessage);

    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(8, 4, 4, 4);
    row->addWidget(m_icon, 0, Qt::AlignTop);
    row->addWidget(m_text, 1);
    row->addWidget(m_action, 0, Qt::AlignVCenter);
    row->addWidget(m_close, 0, Qt::AlignTop);
    hide();
}

void MessageBar::showMessage(Kind kind, const QString &text, const QString &actionText)
{
    m_kind = kind;
    const KindLook look = lookOf(kind);
    const int side = style()->pixelMetric(QStyle::PM_SmallIconSize, nullptr, this);
    m_icon->setPixmap(style()->standardIcon(look.icon).pixmap(side, side));
    QPalette colours = palette();
    colours.setColor(QPalette::Window, look.background);
    colours.setColor(QPalette::WindowText, QColor(30, 30, 30));
    colours.setColor(QPalette::Light, look.border);
    colours.setColor(QPalette::Dark, look.border);
    colours.setColor(QPalette::Mid, look.border);
    setPalette(colours);
    m_text->setText(text);
    m_action->setText(actionText);
    m_action->setVisible(!actionText.isEmpty());
    m_close->setVisible(actionText.isEmpty());
    show();
    Q_EMIT changed();
}

void MessageBar::clearMessage()
{
    if (isHidden() && m_text->text().isEmpty())
        return;
    hide();
    m_text->clear();
    m_action->hide();
    Q_EMIT changed();
}

QString MessageBar::text() const
{
    return m_text->text();
}
