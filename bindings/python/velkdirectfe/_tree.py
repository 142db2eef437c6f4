"""The inventory as a tree object."""
from __future__ import annotations

from typing import Dict, Iterable, Iterator, List, Optional

from ._records import InventoryNode


class InventoryTree:
    """The inventory's nodes under an unnamed root.

    ``roots`` are the nodes right below the root; ``children(node)`` the
    nodes below one (``None`` for the root), in the walk's order; ``find``
    looks a node up by path; iterating yields every node, parents first."""

    def __init__(self, nodes: Iterable[InventoryNode]) -> None:
        self._nodes: List[InventoryNode] = list(nodes)
        self._children: Dict[Optional[InventoryNode], List[InventoryNode]] = {None: []}
        self._by_path: Dict[str, InventoryNode] = {}
        for node in self._nodes:
            self._children.setdefault(node, [])
            self._children.setdefault(node.parent, []).append(node)
            self._by_path.setdefault(node.path, node)

    @property
    def roots(self) -> List[InventoryNode]:
        """The nodes right below the root."""
        return list(self._children[None])

    def children(self, node: Optional[InventoryNode] = None) -> List[InventoryNode]:
        """The nodes right below ``node`` (the root when ``None``)."""
        return list(self._children.get(node, []))

    def find(self, path: str) -> Optional[InventoryNode]:
        """The node of this path, or ``None``."""
        return self._by_path.get(path)

    def __iter__(self) -> Iterator[InventoryNode]:
        return iter(self._nodes)

    def __len__(self) -> int:
        return len(self._nodes)

    def to_dict(self, node: Optional[InventoryNode] = None) -> dict:
        """The tree below ``node`` (the root when ``None``) as nested dicts,
        each with path, kind, desc (hex), properties and children."""
        out: dict = {}
        if node is not None:
            out = {"path": node.path, "kind": node.kind, "desc": node.desc.hex(), "properties": dict(node.props)}
        out["children"] = [self.to_dict(child) for child in self._children.get(node, [])]
        return out
