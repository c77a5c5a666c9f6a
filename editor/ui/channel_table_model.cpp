// Texts of the channel list: numbers as "%d", reals as "%0.2f", the sound flag as
// "есть" / "нет". The texts are for the eye only; nothing reads them back.
#include "editor/ui/channel_table_model.h"

#include "editor/channel_table.h"

namespace zelvik::editor::ui {

ChannelTableModel::ChannelTableModel(EditorSettings& settings, QObject* parent)
    : QAbstractTableModel(parent), settings_(settings) {}

int ChannelTableModel::rowCount(const QModelIndex& parent) const {
    if (parent.isValid()) return 0;
    return std::min<int>(settings_.channel_count, static_cast<int>(settings_.channels.size()));
}

int ChannelTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumns;
}

QVariant ChannelTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) return {};
    if (role == Qt::TextAlignmentRole) return int(Qt::AlignLeft | Qt::AlignVCenter);
    if (role == Qt::UserRole) return index.row();
    if (role == Qt::ToolTipRole) return tooltip(index);
    if (role != Qt::DisplayRole) return {};
    const ChannelEntry& e = settings_.channels[static_cast<size_t>(index.row())];
    switch (index.column()) {
        case 0:
            return QString::number(index.row() + 1);
        case 1:
            return QString::fromStdString(e.station);
        case 2:
            return QString::fromStdString(e.channel);
        case 3:
            return QString::number(e.sta);
        case 4:
            return QString::number(e.lta);
        case 5:
            return QString::fromStdString(list_number_text(e.threshold));
        case 6:
            return QString::fromStdString(list_number_text(e.fr1));
        case 7:
            return QString::fromStdString(list_number_text(e.fr2));
        case 8:
            return QString::number(e.order);
        case 9:
            return e.sound ? QStringLiteral("есть") : QStringLiteral("нет");
        default:
            return {};
    }
}

QString ChannelTableModel::tooltip(const QModelIndex& index) const {
    const ChannelEntry& e = settings_.channels[static_cast<size_t>(index.row())];
    const QString title = headerData(index.column(), Qt::Horizontal, Qt::ToolTipRole).toString();
    QString value;
    switch (index.column()) {
        case 5:
            value = QString::fromStdString(exact_number_text(e.threshold));
            break;
        case 6:
            value = QString::fromStdString(exact_number_text(e.fr1));
            break;
        case 7:
            value = QString::fromStdString(exact_number_text(e.fr2));
            break;
        default:
            value = data(index, Qt::DisplayRole).toString();
    }
    return title + QStringLiteral(": ") + value;
}

QVariant ChannelTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal) return {};
    if (role == Qt::TextAlignmentRole) return int(Qt::AlignLeft | Qt::AlignVCenter);
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole) return {};
    static const char* const kTitles[kColumns] = {"#",
                                                  "Код станции",
                                                  "Код канала",
                                                  "STA",
                                                  "LTA",
                                                  "Порог срабатывания",
                                                  "Нижняя частота",
                                                  "Верхняя частота",
                                                  "Порядок фильтра",
                                                  "Оповещение"};
    if (section < 0 || section >= kColumns) return {};
    QString title = QString::fromUtf8(kTitles[section]);
    // Shown on two lines, so that all ten columns fit the list's width and stay legible.
    if (role == Qt::DisplayRole) title.replace(QLatin1Char(' '), QLatin1Char('\n'));
    return title;
}

void ChannelTableModel::rebuild() {
    beginResetModel();
    endResetModel();
}

void ChannelTableModel::rows_changed(int first, int last) {
    if (first > last) std::swap(first, last);
    emit dataChanged(index(first, 0), index(last, kColumns - 1), {Qt::DisplayRole});
}

}  // namespace zelvik::editor::ui
