#pragma once
// The contact tree and the detail panel beside it, acting on the main window's contact panel.
#include <QString>

#include <utility>
#include <vector>

class QTreeWidgetItem;

namespace kestrel {

class LeadPanel;

// The panel these routines fill; with none registered they do nothing.
LeadPanel* leadPanel();
void setLeadPanel(LeadPanel* panel);

// Refills the tree: every contact under the initial of its last name (accents removed), or, for
// any filter other than "" and "All", only the contacts of the type shown in the display filter.
// Contacts whose last name starts with no letter A-Z are filed under a "#" node after "Z"; under
// a letter the names that begin with it come first, then those that begin with each of its
// accented forms (initialParts), each in name order. The
// contact shown in the detail panel is selected and shown again, or the panel emptied if the
// tree no longer holds it; a contact gone from the same list leaves its neighbour shown. The
// letters open before stay open. A database that cannot be read is reported and leaves the tree
// empty. Only the counts of the letters and the letters open are read (see setTreePaging).
// Whatever the filter, the display filter then says what the tree lists: "All" for every contact.
void PopTree(const QString& filter);
// The display filter's text ("All" or a type), for a refill that keeps the tree as filtered.
QString treeFilter();

// The text of a contact node: "Last, First - Address", each value isolated from the others.
QString TreeNodeText(const QString& last, const QString& first, const QString& address);

// True while the tree is being cleared for a fill.
bool treeFilling();

// Fills the detail panel with the contact whose id is lLeadID. Throws DbError when the contact
// cannot be read (the database fails, or the contact is no longer stored); the boxes filled
// before the failure keep their texts.
void ShowLead();

// Empties every box of the detail panel.
void ClearLead();
// Shows the last contact and the latest entries of the history of the contact the detail panel
// shows (nothing when it shows none). Throws DbError when they cannot be read.
void PopLeadHistory();
// Opens a new mail to the contact's address, or says there is none to write to.
void EmailLead(const QString& address);
// Opens the contact's web site in the browser (https:// in front when it names no scheme), or
// says there is none; an address that is not a web page (javascript:, file:) is never opened.
void OpenWebSite(const QString& site);

// Shows the contact as a click on its node does: opens its initial, selects its node (refilling
// the tree with every contact when the node is not there) and fills the detail panel; the tree
// gets the focus. A contact that is no longer stored leaves the tree as it is.
void GoToLead(int id);

// A letter's contacts are read when it is opened, pageSize at a time (2,000 unless changed), and
// the next page when the last one read comes into view or is chosen; a list of at most wholeList
// contacts (2,000 unless changed) is read whole at each fill.
void setTreePaging(int pageSize, int wholeList);
// The tree's letter was opened: its first page is read.
void TreeLetterOpened(QTreeWidgetItem* letter);
// The tree scrolled or its selection moved: the open letters read on while their end is near.
void TreeViewMoved();

// How long a fill may run before it lets pending window events run (30 ms unless changed).
void setTreeEventInterval(int milliseconds);

// The key a node carries: a single character for an initial node ("A", "#"), "ID" + id for a contact.
QString nodeKey(const QTreeWidgetItem* node);

} // namespace kestrel
